#pragma once
// The 32-byte entries of an exFAT directory entry set, read into a record: the file entry,
// the stream extension and the file name entries. Used by the folder walk and by the
// advanced scan, which also tests whether bytes look like a whole set.

#include <cstddef>
#include <cstdint>
#include <span>
#include <string>

#include "filesystems/exfat/ExFatDirRecord.h"
#include "platform/ByteReader.h"

namespace quenlow::fs::exfat {

inline constexpr size_t kEntryBytes = 32;
inline constexpr int kMaxNamePieces = 17;  // 255 characters
// The most bytes a set takes: file and stream entries and 17 name entries.
inline constexpr size_t kLongestSetBytes = kEntryBytes * (2 + kMaxNamePieces);

inline bool isFileEntry(uint8_t type) { return type == 0x85 || type == 0x05; }
inline bool isStreamEntry(uint8_t type) { return type == 0xC0 || type == 0x40; }
inline bool isNameEntry(uint8_t type) { return type == 0xC1 || type == 0x41; }

// The fields of a file entry (type, attributes, times) or a stream extension (flags, name
// length, sizes, first cluster) at `e` into `r`.
void readFileEntry(const platform::ByteReader& e, ExFatDirRecord& r);
void readStreamEntry(const platform::ByteReader& e, ExFatDirRecord& r);
// The name entry's up to 15 characters, up to the first zero one, appended to `name`.
void appendNamePiece(const platform::ByteReader& e, std::u16string& name);

// The advanced scan's test of the set whose file entry starts `bytes`: the file entry's
// attribute byte and reserved bytes, a stream extension with sound reserved fields and
// flags, and as many name entries as its name length needs. Gives the set's length in
// entries, or 0 when it does not look like a set.
size_t acceptedSetEntries(std::span<const uint8_t> bytes);

// The set whose file entry is at `at` of `bytes` as a record: the stream extension when it
// follows, and the name entries that follow it (at most 17). False when `at` holds no file entry.
bool readSet(std::span<const uint8_t> bytes, size_t at, ExFatDirRecord& r);

}  // namespace quenlow::fs::exfat

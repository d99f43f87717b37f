#pragma once
// The contract every file-system parser fills: the whole life of one volume. A parser is
// made on a volume (ParserSetup), parses it once (parse), and then answers for its entry
// table: the child lists, the list's texts, the times, and each file's data as a stream
// (openData). Creating files is not a parser's business: output/ writes what openData
// describes.

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "disk/Feedback.h"
#include "disk/VolumeView.h"
#include "disk/WorkControl.h"
#include "filesystems/DataStream.h"
#include "filesystems/FolderTree.h"
#include "filesystems/Status.h"
#include "platform/LocalTime.h"
#include "volumes/VolumeRecord.h"

namespace quenlow::disk {
struct RecoveryContext;
}

namespace quenlow::fs {

// A parser's reference to one of its entries (a pointer or a key); 0 means none.
using EntryRef = uint64_t;
inline constexpr EntryRef kNoEntry = 0;

// The recovery modes: how a volume is read.
enum class Mode { Standard = 1, Advanced = 2, Deep = 3 };

struct EntryTexts {
    std::string created;
    std::string accessed;
    std::string modified;
    std::string attributes;
};

// An entry's times in UTC as the file system stores them; absent where it stores none.
struct EntryTimes {
    std::optional<platform::UnixTime> created;
    std::optional<platform::UnixTime> accessed;
    std::optional<platform::UnixTime> modified;
    std::optional<platform::UnixTime> changed;  // metadata change (ext)
    int fractionDigits = 0;  // the precision stored: 7 for 100 ns ticks, 0 for whole seconds
};

// One entry's data: its size, its times and the stream of its bytes.
struct EntryData {
    uint64_t size = 0;
    EntryTimes times;
    std::unique_ptr<DataStream> stream;
};

// What a parser is made with.
struct ParserSetup {
    disk::VolumeView view;               // the volume: offsets from its first byte
    volumes::VolumeRecord volume;        // the record it was chosen by (a copy)
    FolderTree* tree = nullptr;          // filled by the parse
    std::string rootLabel = "ROOT";      // the text of the tree's root item
    disk::RecoveryContext* context = nullptr;  // options such as driveFormatted; may be null
};

// The message a parser gives when its boot sector is not sound and the file system's own
// backup copy of it is read instead (FAT32 sector 6, exFAT sector 12, NTFS the last sector).
inline constexpr const char* kBackupBootText = "the boot sector is damaged: the volume was read through its backup copy";

// Advanced mode, first stage: where the volume's own structures seem to start, found by a
// search of the raw volume (the boot sector is not trusted). Offsets are bytes from the
// volume's first byte, ascending.
struct CandidateSearch {
    std::vector<int64_t> entries;  // NTFS: $MFT records; FAT16, FAT32, exFAT: FAT starts
    std::vector<int64_t> heaps;    // exFAT: cluster heap starts
    bool bootValid = false;        // the boot sector passed the file system's own check
    int64_t bootSectorsPerCluster = 0;  // its cluster size in 512-byte sectors (0: none)
    // Without a valid boot sector, the cluster size other structures gave (exFAT: the root
    // folder and its up-case table), in 512-byte sectors; 0: none.
    int64_t foundSectorsPerCluster = 0;
};

// Advanced mode, the user's choice among the candidates, given before parse(Advanced).
struct CandidateChoice {
    size_t entry = 0;                // index into CandidateSearch::entries
    int64_t sectorsPerCluster = 0;   // a count of 512-byte sectors; 0 keeps the parser's own
    std::optional<size_t> heap;      // exFAT: index into heaps; none takes `entry`
};

// The end of a parse.
struct ParseOutcome {
    Status status;          // failure: the volume could not be read as this file system
    bool complete = true;   // the completion sequence follows (not after a failed boot check)
};

class VolumeParser {
public:
    virtual ~VolumeParser() = default;

    // Parses the volume in `mode`, polling `control` between blocks or entries (a stopped
    // parse still ends with the entries found so far) and reporting status and progress to
    // `feedback`. Called once.
    virtual ParseOutcome parse(WorkControl& control, Feedback& feedback, Mode mode) = 0;

    // Advanced mode's candidate search over at most `maximum` candidates of each kind,
    // polling `control` between chunks (a stopped search keeps what it found). Called once,
    // before chooseCandidate and parse(Mode::Advanced). Parsers without an advanced mode
    // keep the default.
    virtual Result<CandidateSearch> findCandidates(WorkControl& control, Feedback& feedback, int64_t maximum) {
        (void)control;
        (void)feedback;
        (void)maximum;
        return Status::failure("this file system has no advanced mode");
    }
    // The candidate parse(Mode::Advanced) starts from; false (with `error`) when the choice
    // does not fit the search's lists or the file system (sectors per cluster).
    virtual bool chooseCandidate(const CandidateChoice& choice, std::string& error) {
        (void)choice;
        error = "this file system has no advanced mode";
        return false;
    }

    // The first-level entries shown below the root item, in order; empty when the parse
    // found no root.
    virtual std::vector<EntryRef> firstLevel() const = 0;
    virtual EntryRef firstChild(EntryRef folder) const = 0;
    virtual EntryRef nextSibling(EntryRef entry) const = 0;

    // A selected entry that qualifies as a folder to save.
    virtual bool qualifiesAsSaveFolder(EntryRef entry) const = 0;
    // A child walked as a folder when saving and browsing.
    virtual bool isFolder(EntryRef entry) const = 0;
    // A child saved as a file (entries that are neither are passed over).
    virtual bool isFile(EntryRef entry) const = 0;
    // The test for children that decides the "..DUMY.." placeholder.
    virtual bool hasChildren(EntryRef entry) const = 0;
    // Shown in red: the entry is deleted (not in use).
    virtual bool isDeleted(EntryRef entry) const = 0;
    // The entry's name as UTF-8; empty when it has none.
    virtual std::string name(EntryRef entry) const = 0;
    // The size field shown while saving ("File size: %ld kb").
    virtual int64_t sizeField(EntryRef entry) const = 0;
    // Saving does not write this entry (it is still counted).
    virtual bool skipWhenSaving(EntryRef entry) const { (void)entry; return false; }
    // Gives the entry a new name (names restored from the Recycle Bin's info files). Tree
    // items already inserted keep their text. False when the parser cannot rename.
    virtual bool setName(EntryRef entry, const std::string& newName) {
        (void)entry;
        (void)newName;
        return false;
    }

    // The Size column.
    virtual std::string sizeText(EntryRef entry) = 0;
    // The Size column's number in bytes; -1 when it cannot be had.
    virtual int64_t dataSize(EntryRef entry) = 0;
    virtual EntryTexts entryTexts(EntryRef entry) = 0;
    // The entry's times (also for folders).
    virtual EntryTimes times(EntryRef entry) { (void)entry; return {}; }

    // The entry's data for saving and reading. Messages the file system's saving shows (for
    // instance that an entry is not valid) go to `feedback`; the failure's reason is in the
    // result.
    virtual Result<EntryData> openData(EntryRef entry, Feedback& feedback) = 0;
    // Saving the entry failed after openData (writing, reading): the parser's own message.
    virtual void reportSaveFailure(const std::string& reason, Feedback& feedback) {
        (void)reason;
        (void)feedback;
    }
};

}  // namespace quenlow::fs

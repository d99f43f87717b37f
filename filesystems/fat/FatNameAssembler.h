#pragma once
// The names of FAT directory entries: the 8.3 short name, and long names assembled from
// runs of long-name pieces (attribute 0x0F). A run names the next entry that is not a
// piece; it holds at most 20 pieces (255 characters), and a longer run starts a new name
// with its 21st piece. Sequence numbers and checksums are not checked.

#include <cstdint>
#include <string>

namespace quenlow::fs {

class FatNameAssembler {
public:
    static constexpr int kMaxPieces = 20;

    // The short name of a 32-byte entry: the first byte widened with its sign (0xE5 reads
    // U+FFE5), the other ten through the ANSI code page, the '.' before the extension, the
    // blanks dropped, and the lower-case flags of byte 12 applied.
    static std::string shortName(const uint8_t* entry, bool folder);

    // Takes one long-name piece.
    void addPiece(const uint8_t* entry);
    // The name of the entry that follows a run (its short name when no run is pending),
    // and whether the run or the entry carries the deletion mark. Ends the pending run.
    std::string take(const uint8_t* entry, bool folder, bool& deleted);
    // Forgets a pending run.
    void reset();
    bool pending() const { return pieces_ > 0; }

private:
    std::u16string pieces_text_[kMaxPieces];
    int pieces_ = 0;
    bool deleted_ = false;
};

}  // namespace quenlow::fs

#pragma once
// What the carving engine works from, one pair per loaded record: the signature entry (the
// type's sizes, extension and category) and its type record (the signatures to match).

#include <array>
#include <cstdint>
#include <string>

#include "filesystems/FolderTree.h"
#include "raw/Finish.h"
#include "raw/SignatureRecord.h"

namespace quenlow::raw {

struct SignatureEntry {
    uint8_t startLength = 0;
    uint8_t endLength = 0;
    std::string extension;        // at most 4 characters, UTF-8
    int32_t sizeOffset = -1;      // -1: no size field
    int32_t sizeBytes = 0;
    int32_t headerSize = 0;
    uint8_t sizeIncludesHeader = 0;
    int64_t approximateSize = 0;
    int64_t skipSize = 0;
    std::string category;         // UTF-8
    fs::TreeItem categoryNode = fs::kNoItem;  // set by the engine
    Finish finish = Finish::None; // only types of the default file carry one

    bool paired() const { return endLength > 0; }
    bool headerSized() const { return !paired() && sizeBytes > 0; }
};

struct TypeRecord {
    std::array<uint8_t, kMaxSignatureBytes> start{};
    std::array<uint8_t, kMaxSignatureBytes> end{};
    uint8_t startLength = 0;
    uint8_t endLength = 0;
    int typeNumber = 0;
};

// The entry and type record a settings record gives.
SignatureEntry entryFromRecord(const SignatureRecord& record);
TypeRecord typeFromRecord(const SignatureRecord& record, int typeNumber);

}  // namespace quenlow::raw

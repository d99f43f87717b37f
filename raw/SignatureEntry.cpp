#include "raw/SignatureEntry.h"

#include <algorithm>

#include "platform/TextConvert.h"

namespace quenlow::raw {

SignatureEntry entryFromRecord(const SignatureRecord& record) {
    SignatureEntry e;
    e.startLength = record.startLength;
    e.endLength = record.endLength;
    e.extension = platform::utf16ToUtf8(record.extension);
    e.sizeOffset = record.sizeOffset > 0 ? record.sizeOffset : -1;
    e.sizeBytes = record.sizeBytes;
    e.headerSize = record.headerSize;
    e.sizeIncludesHeader = record.sizeIncludesHeader;
    e.approximateSize = record.approximateSize;
    e.skipSize = record.skipSize;
    e.category = platform::utf16ToUtf8(record.category);
    return e;
}

TypeRecord typeFromRecord(const SignatureRecord& record, int typeNumber) {
    TypeRecord t;
    t.start = record.start;
    t.end = record.end;
    t.startLength = std::min<uint8_t>(record.startLength, kMaxSignatureBytes);
    t.endLength = std::min<uint8_t>(record.endLength, kMaxSignatureBytes);
    t.typeNumber = typeNumber;
    return t;
}

}  // namespace quenlow::raw

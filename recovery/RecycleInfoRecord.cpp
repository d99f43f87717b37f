#include "recovery/RecycleInfoRecord.h"

#include "platform/ByteReader.h"
#include "platform/TextConvert.h"

namespace quenlow::recovery {

namespace {

constexpr size_t kVersion1Path = 24;
constexpr size_t kVersion2Length = 24;
constexpr size_t kVersion2Path = 28;

// The UTF-16LE text from `at`, at most `maxUnits` units, ending at its first NUL.
std::string pathAt(const platform::ByteReader& r, size_t at, size_t maxUnits) {
    size_t units = 0;
    while (units < maxUnits && r.fits(at + 2 * units, 2) && r.le16(at + 2 * units) != 0) ++units;
    std::u16string text(units, u'\0');
    for (size_t i = 0; i < units; ++i) text[i] = static_cast<char16_t>(r.le16(at + 2 * i));
    return platform::utf16ToUtf8(text);
}

}  // namespace

std::optional<RecycleInfoRecord> RecycleInfoRecord::decode(const uint8_t* bytes, size_t size) {
    if (bytes == nullptr || size >= kRecycleInfoLimit) return std::nullopt;
    platform::ByteReader r(bytes, size);
    RecycleInfoRecord record;
    record.version = r.le64(0);
    if (record.version == 2) {
        if (!r.fits(kVersion2Length, 4)) return std::nullopt;
        // The length counts the NUL; a length past the record is cut to the record.
        record.formerPath = pathAt(r, kVersion2Path, r.le32(kVersion2Length));
    } else {
        if (!r.fits(kVersion1Path, 0)) return std::nullopt;
        record.formerPath = pathAt(r, kVersion1Path, kRecycleInfoLimit);
    }
    return record;
}

std::string RecycleInfoRecord::formerName() const {
    size_t slash = formerPath.rfind('\\');
    return slash == std::string::npos ? formerPath : formerPath.substr(slash + 1);
}

}  // namespace quenlow::recovery

#include "raw/SettingsFile.h"

#include <algorithm>
#include <charconv>
#include <filesystem>
#include <fstream>
#include <limits>

#include "platform/ReadOnlyFile.h"
#include "raw/myJpg.h"

namespace quenlow::raw {

namespace {

// The last whole record must start within the first MiB.
constexpr uint64_t kLastRecordLimit = 1048576;

std::string trim(const std::string& text) {
    size_t a = text.find_first_not_of(" \t\r\n");
    if (a == std::string::npos) return "";
    size_t b = text.find_last_not_of(" \t\r\n");
    return text.substr(a, b - a + 1);
}

// A decimal field: its leading number (sign allowed), 0 when it starts with none, held to
// 32 bits.
int32_t decimal32(const std::string& field) {
    std::string t = trim(field);
    int64_t value = 0;
    const char* first = t.data();
    const char* last = t.data() + t.size();
    if (first != last && *first == '+') ++first;
    auto [ptr, ec] = std::from_chars(first, last, value);
    if (ec == std::errc::result_out_of_range)
        return (first != last && *first == '-') ? std::numeric_limits<int32_t>::min() : std::numeric_limits<int32_t>::max();
    if (ec != std::errc()) return 0;
    return static_cast<int32_t>(std::clamp<int64_t>(value, std::numeric_limits<int32_t>::min(),
                                                    std::numeric_limits<int32_t>::max()));
}

// Comma-separated hexadecimal bytes, "0x" optional, the low byte kept. False with the piece
// at fault in `bad` when one is not a hexadecimal number.
bool hexBytes(const std::string& text, std::vector<uint8_t>& bytes, std::string& bad) {
    size_t at = 0;
    while (at <= text.size()) {
        size_t comma = text.find(',', at);
        std::string piece = trim(text.substr(at, comma == std::string::npos ? std::string::npos : comma - at));
        at = comma == std::string::npos ? text.size() + 1 : comma + 1;
        if (piece.empty()) continue;
        std::string digits = piece;
        if (digits.size() > 2 && digits[0] == '0' && (digits[1] == 'x' || digits[1] == 'X')) digits = digits.substr(2);
        uint64_t value = 0;
        auto [ptr, ec] = std::from_chars(digits.data(), digits.data() + digits.size(), value, 16);
        if (ec == std::errc::result_out_of_range) ec = std::errc(), ptr = digits.data() + digits.size(), value = 0xFF;
        if (ec != std::errc() || ptr != digits.data() + digits.size()) {
            bad = piece;
            return false;
        }
        bytes.push_back(static_cast<uint8_t>(value & 0xFF));
    }
    return true;
}

}  // namespace

std::u16string utf8ToUtf16(const std::string& text) {
    std::u16string out;
    for (size_t i = 0; i < text.size();) {
        unsigned char c = static_cast<unsigned char>(text[i]);
        uint32_t cp = 0xFFFD;
        size_t n = c < 0x80 ? 1 : (c >> 5) == 6 ? 2 : (c >> 4) == 14 ? 3 : (c >> 3) == 30 ? 4 : 0;
        if (n == 0 || i + n > text.size()) {
            ++i;
        } else {
            cp = n == 1 ? c : c & (0x7F >> n);
            bool ok = true;
            for (size_t k = 1; k < n; ++k) {
                unsigned char d = static_cast<unsigned char>(text[i + k]);
                if ((d & 0xC0) != 0x80) ok = false;
                cp = (cp << 6) | (d & 0x3F);
            }
            if (!ok || cp > 0x10FFFF || (cp >= 0xD800 && cp <= 0xDFFF)) {
                cp = 0xFFFD;
                ++i;
            } else {
                i += n;
            }
        }
        if (cp >= 0x10000) {
            cp -= 0x10000;
            out.push_back(static_cast<char16_t>(0xD800 + (cp >> 10)));
            out.push_back(static_cast<char16_t>(0xDC00 + (cp & 0x3FF)));
        } else {
            out.push_back(static_cast<char16_t>(cp));
        }
    }
    return out;
}

EncodedFields encodeFields(const SignatureFields& fields, uint8_t recordNumber) {
    EncodedFields result;
    SignatureRecord rec;
    rec.recordNumber = recordNumber;
    std::u16string ext = utf8ToUtf16(fields.extension);
    if (ext.empty()) {
        result.message = kExtensionEmptyText;
        return result;
    }
    rec.extension = ext.substr(0, kMaxExtensionUnits);
    rec.extensionLength = static_cast<uint8_t>(std::min<size_t>(ext.size(), 255));

    std::vector<uint8_t> start, end;
    std::string bad;
    if (!hexBytes(fields.startSignature, start, bad) || !hexBytes(fields.endSignature, end, bad)) {
        result.message = "'" + bad + "' is not a hexadecimal byte..";
        return result;
    }
    if (start.empty()) {
        result.message = kSignatureEmptyText;
        return result;
    }
    if (start.size() > kMaxSignatureBytes || end.size() > kMaxSignatureBytes) {
        result.message = "a signature holds at most 10 bytes..";
        return result;
    }
    std::copy(start.begin(), start.end(), rec.start.begin());
    std::copy(end.begin(), end.end(), rec.end.begin());
    rec.startLength = static_cast<uint8_t>(start.size());
    rec.endLength = static_cast<uint8_t>(end.size());

    int32_t sizeOffset = decimal32(fields.sizeOffset);
    rec.sizeOffset = sizeOffset != 0 ? sizeOffset : -1;
    rec.sizeBytes = decimal32(fields.sizeBytes);
    rec.headerSize = decimal32(fields.headerSize);
    rec.sizeIncludesHeader = fields.sizeIncludesHeader ? 1 : 0;
    rec.approximateSize = decimal32(fields.approximateSize);
    rec.skipSize = decimal32(fields.skipSize);
    rec.category = utf8ToUtf16(fields.category).substr(0, kMaxCategoryUnits);
    result.record = rec;
    return result;
}

std::string appendSignatureRecord(const std::string& path, const SignatureFields& fields) {
    std::error_code ec;
    uint64_t length = 0;
    if (std::filesystem::exists(path, ec)) {
        length = std::filesystem::file_size(path, ec);
        if (ec) return "file can not be created: " + path + ": " + ec.message();
    }
    EncodedFields encoded = encodeFields(fields, static_cast<uint8_t>(length / kRecordBytes));
    if (!encoded.record) return encoded.message;
    std::array<uint8_t, kRecordBytes> bytes = encoded.record->encode();
    std::ofstream out(path, std::ios::binary | std::ios::app);
    if (!out) return "file can not be created: " + path;
    out.write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
    out.close();
    if (!out) return "file can not be written: " + path;
    return kRecordSavedText;
}

LoadedRecords parseSettings(const std::vector<uint8_t>& bytes, bool isDefault) {
    LoadedRecords out;
    auto refuse = [&](const std::string& why) {
        out.records.clear();
        out.refusal = std::string(kNotValidText) + " (" + why + ")";
        return out;
    };
    const uint64_t whole = bytes.size() / kRecordBytes;
    if (whole == 0) return refuse("it holds no whole record of 171 bytes");
    if ((whole - 1) * kRecordBytes > kLastRecordLimit) return refuse("its last record starts beyond 1 MiB");
    std::span<const uint8_t> all(bytes);
    SignatureRecord last = SignatureRecord::parse(all.subspan((whole - 1) * kRecordBytes));
    if (!isDefault && (last.sizeBytes > 8 || last.sizeBytes < 0))
        return refuse("the last record's size field is wider than 8 bytes");
    const uint64_t count = uint64_t{last.recordNumber} + 1;
    if (count > whole)
        return refuse("the last record says " + std::to_string(count) + " records, the file holds " +
                      std::to_string(whole));
    for (uint64_t k = 0; k < count; ++k) {
        SignatureRecord rec = SignatureRecord::parse(all.subspan(k * kRecordBytes));
        std::string which = "record " + std::to_string(k) + ": ";
        if (rec.startLength == 0 || rec.startLength > kMaxSignatureBytes)
            return refuse(which + "start signature of " + std::to_string(rec.startLength) + " bytes");
        if (rec.endLength > kMaxSignatureBytes)
            return refuse(which + "end signature of " + std::to_string(rec.endLength) + " bytes");
        if (rec.endLength == 0 && rec.sizeBytes > 0) {
            // The size is read from the file's first sector.
            if (rec.sizeOffset <= 0) return refuse(which + "size bytes without a size offset");
            if (rec.sizeBytes > 8) return refuse(which + "a size field wider than 8 bytes");
            if (int64_t{rec.sizeOffset} + rec.sizeBytes > 512)
                return refuse(which + "its size field lies beyond the first sector");
        }
        out.records.push_back(rec);
    }
    return out;
}

std::vector<std::string> finishLines(const std::string& text) {
    std::vector<std::string> lines;
    size_t at = 0;
    while (at < text.size() && lines.size() < 256) {
        size_t nl = text.find('\n', at);
        lines.push_back(trim(text.substr(at, nl == std::string::npos ? std::string::npos : nl - at)));
        at = nl == std::string::npos ? text.size() : nl + 1;
    }
    return lines;
}

namespace {

bool readWhole(const std::string& path, uint64_t limit, std::vector<uint8_t>& bytes) {
    platform::ReadOnlyFile file;
    if (!file.open(path)) return false;
    uint64_t size = std::min<uint64_t>(file.size(), limit);
    bytes.resize(static_cast<size_t>(size));
    if (size == 0) return true;
    int64_t got = file.readAt(bytes.data(), bytes.size(), 0);
    if (got < 0) return false;
    bytes.resize(static_cast<size_t>(got));
    return true;
}

}  // namespace

bool loadSettingsFile(const std::string& path, bool isDefault, myJpg& engine, Feedback& feedback) {
    if (path.empty()) return true;
    std::vector<uint8_t> bytes;
    // One byte past the largest valid file tells an oversized one.
    constexpr uint64_t kLargest = kLastRecordLimit + 2 * kRecordBytes;
    if (!readWhole(path, kLargest, bytes)) {
        if (!isDefault) feedback.message(std::string(kCannotOpenText) + ": " + path);
        return false;
    }
    LoadedRecords loaded = parseSettings(bytes, isDefault);
    if (!loaded.refusal.empty()) {
        feedback.message(loaded.refusal + ": " + path);
        return false;
    }
    std::vector<std::string> finishes;
    if (isDefault) {
        std::filesystem::path beside = std::filesystem::path(path).parent_path() / kDefaultFinishName;
        std::vector<uint8_t> text;
        if (readWhole(beside.string(), 64 * 1024, text)) finishes = finishLines(std::string(text.begin(), text.end()));
    }
    for (size_t k = 0; k < loaded.records.size(); ++k) {
        SignatureEntry entry = entryFromRecord(loaded.records[k]);
        if (k < finishes.size()) entry.finish = finishFromName(finishes[k]).value_or(Finish::None);
        engine.addType(std::move(entry), typeFromRecord(loaded.records[k], static_cast<int>(engine.typeCount())));
    }
    return true;
}

}  // namespace quenlow::raw

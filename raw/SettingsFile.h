#pragma once
// Signature settings files: the dialog's fields encoded into records and appended, and a
// file's records loaded into the carving engine.

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "disk/Feedback.h"
#include "raw/SignatureRecord.h"

namespace quenlow::raw {

class myJpg;

inline constexpr const char* kExtensionEmptyText = "extention length is zero..";
inline constexpr const char* kSignatureEmptyText = "signature length is zero..";
inline constexpr const char* kRecordSavedText = "everything initialized well.....";
inline constexpr const char* kCannotOpenText = "can not open file";
inline constexpr const char* kNotValidText = "not a valid file..";

// The default file's name, beside the program.
inline constexpr const char* kDefaultSettingsName = "FileSetting.txt";
// Beside it: the finish of each default record, one name a line ("-": none).
inline constexpr const char* kDefaultFinishName = "FileSetting.finish";

// The signature dialog's fields, as typed.
struct SignatureFields {
    std::string extension;
    std::string startSignature;   // hexadecimal bytes separated by commas, "0x" optional
    std::string endSignature;
    std::string sizeOffset;       // decimal
    std::string sizeBytes;
    std::string headerSize;
    bool sizeIncludesHeader = false;
    std::string skipSize;
    std::string approximateSize;
    std::string category;
};

// A record from the fields, or the message that refuses them: an empty extension, no start
// byte, a piece that is not a hexadecimal number, more than 10 bytes in a signature.
struct EncodedFields {
    std::optional<SignatureRecord> record;
    std::string message;
};
EncodedFields encodeFields(const SignatureFields& fields, uint8_t recordNumber);

// Appends the record of `fields` to the settings file at `path` (created when missing; its
// record number is the file's whole records) and returns the dialog's message: one of the
// refusals, kRecordSavedText, or why the file could not be written.
std::string appendSignatureRecord(const std::string& path, const SignatureFields& fields);

// The records a settings file's bytes yield, or the reason they are refused (the message
// first, kNotValidText for every refusal of the contents, then what is wrong).
struct LoadedRecords {
    std::vector<SignatureRecord> records;
    std::string refusal;  // empty when accepted
};
LoadedRecords parseSettings(const std::vector<uint8_t>& bytes, bool isDefault);

// Reads the file at `path` into `engine`'s entries. An empty path loads nothing and succeeds.
// A file that cannot be opened says kCannotOpenText (not for the default file, which is then
// silently passed over); one refused says kNotValidText with the reason. Types of the default
// file take their finishes from kDefaultFinishName beside it.
bool loadSettingsFile(const std::string& path, bool isDefault, myJpg& engine, Feedback& feedback);

// The finishes file's text as one finish per record (unknown names and missing lines: none).
std::vector<std::string> finishLines(const std::string& text);

// UTF-8 text as UTF-16 units (invalid bytes as U+FFFD).
std::u16string utf8ToUtf16(const std::string& text);

}  // namespace quenlow::raw

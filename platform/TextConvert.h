#pragma once
// UTF-16 (as stored on disk) to UTF-8 (as used everywhere in the system).

#include <cstddef>
#include <cstdint>
#include <string>

namespace quenlow::platform {

// Converts `units` UTF-16 code units. Unpaired surrogates become U+FFFD; a NUL unit is
// kept as a NUL byte (callers that want C strings cut at it themselves).
std::string utf16ToUtf8(const char16_t* text, size_t units);
std::string utf16ToUtf8(const std::u16string& text);
// Little-endian UTF-16 bytes; a trailing odd byte is ignored.
std::string utf16leToUtf8(const uint8_t* bytes, size_t byteCount);
// Big-endian UTF-16 bytes (HFS+ names).
std::string utf16beToUtf8(const uint8_t* bytes, size_t byteCount);
// Appends the UTF-8 form of one code point (invalid ones as U+FFFD).
void appendUtf8(std::string& out, uint32_t codePoint);

}  // namespace quenlow::platform

#pragma once
// Letter case folded away, for names compared the way case-insensitive file systems and the
// search compare them: ASCII, Latin-1, Latin Extended-A, Greek and Cyrillic letters fold to
// their small forms; everything else (and bytes that are not UTF-8) stays as it is.

#include <cstdint>
#include <string>
#include <string_view>

namespace quenlow::platform {

uint32_t foldCodePoint(uint32_t codePoint);
std::string foldCase(std::string_view utf8);
bool equalIgnoringCase(std::string_view a, std::string_view b);

}  // namespace quenlow::platform

#pragma once
// Text for a terminal. Names come from the disk and may hold anything: escape sequences
// that retitle or recolour the terminal, newlines that split a table row, bytes that are
// not UTF-8. Every text the command line prints goes through terminalText first; tables
// are aligned by the columns a terminal gives each character, not by bytes.

#include <cstddef>
#include <ostream>
#include <string>
#include <string_view>
#include <vector>

namespace quenlow::cli {

// `text` as it may be shown: a C0 control character, DEL or a byte that is not part of
// valid UTF-8 becomes "\xHH" (ESC is "\x1b"), a C1 control character (U+0080-U+009F)
// becomes "\u0085" style; everything else is kept as it is.
std::string terminalText(std::string_view text);

// The columns a terminal gives one character: 0 for combining marks and other zero-width
// characters, 2 for wide ones (CJK, Hangul, most emoji), 1 otherwise. Locale-independent.
int charColumns(char32_t c);
// The columns `text` takes once escaped by terminalText.
size_t displayWidth(std::string_view text);
// `text` escaped and cut to at most `columns` columns at a character boundary, "..."
// marking the cut.
std::string fitColumns(std::string_view text, size_t columns);

// Writes `rows` under `header` as columns two spaces apart, every cell escaped. A column
// is as wide as its widest cell but at most caps[i] columns when caps gives one (0: no
// cap); a longer cell runs over into the rest of its row. Stops at the first line that
// cannot be written and returns false.
bool writeTable(std::ostream& out, const std::vector<std::string>& header,
                const std::vector<std::vector<std::string>>& rows, const std::vector<size_t>& caps = {});

// JSON text (as dumped, valid UTF-8) made safe for a terminal: C1 control characters,
// which JSON leaves unescaped, become \u escapes. The JSON value is unchanged.
std::string terminalJson(std::string_view dumped);

}  // namespace quenlow::cli

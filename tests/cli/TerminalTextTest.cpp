// What reaches the terminal: escapes for what could drive it, columns by display width, and
// the core's texts in the command line's words.

#include <gtest/gtest.h>

#include <sstream>

#include "cli/TerminalPhrases.h"
#include "cli/TerminalText.h"
#include "recovery/ParseCompletion.h"

using namespace quenlow;

TEST(TerminalText, EscapesWhatCouldDriveTheTerminalAndKeepsTheRest) {
    struct Case { std::string in, out; size_t columns; };
    const Case cases[] = {
        {"\x1b]0;owned\x07.txt", "\\x1b]0;owned\\x07.txt", 20}, {"two\nlines\r\t\x7f", "two\\x0alines\\x0d\\x09\\x7f", 24},
        {"c1\xc2\x9b" "31m", "c1\\u009b31m", 11},              // U+009B: the one-byte CSI
        {"\xff\xfe", "\\xff\\xfe", 8},                          // never UTF-8
        {"cut\xe2\x82", "cut\\xe2\\x82", 11},                  // a sequence cut short
        {"\xc0\xaf\xed\xa0\x80", "\\xc0\\xaf\\xed\\xa0\\x80", 20},  // overlong '/', a surrogate
        {"café 日本語 😀", "café 日本語 😀", 14},               // wide characters take two columns
        {"e\xcc\x81t\xc3\xa9", "e\xcc\x81t\xc3\xa9", 3},       // a combining accent takes none
    };
    for (const Case& c : cases) {
        EXPECT_EQ(cli::terminalText(c.in), c.out) << c.out;
        EXPECT_EQ(cli::displayWidth(c.in), c.columns) << c.out;
    }
    // Cut by columns at a character boundary, never inside a character or an escape's bytes.
    EXPECT_EQ(cli::fitColumns("日本語のファイル.txt", 10), "日本語...");
    // JSON leaves C1 characters raw; the \u form is the same string to a JSON reader.
    EXPECT_EQ(cli::terminalJson("[\"a\xc2\x9b\xc3\xa9\"]"), "[\"a\\u009b\xc3\xa9\"]");
}

TEST(TerminalText, TablesAlignByDisplayColumnsAndCapTheNameColumn) {
    std::ostringstream out;
    ASSERT_TRUE(cli::writeTable(out, {"Name", "Size"},
                                {{"日本", "1"}, {"e\xcc\x81", "2"}, {"a\nb", "3"}, {std::string(12, 'x'), "4"}},
                                {8}));
    EXPECT_EQ(out.str(), "Name      Size\n日本      1\ne\xcc\x81         2\na\\x0ab    3\nxxxxxxxxxxxx  4\n");
}

TEST(TerminalPhrases, TheCoresWizardTextsAreSaidForATerminal) {
    const std::string question = "number of files found inside this folder = 642 .do u want to continue dumping these files..?";
    EXPECT_EQ(cli::terminalQuestion(question, "out"), "Save 642 files into out?");
    EXPECT_EQ(cli::terminalStatus(" ParsingBasedOnMFT is going on...."), "parsing the MFT...");
    EXPECT_EQ(cli::terminalStatus("parsing MFT entry 4096..."), "parsing MFT record 4096...");
    EXPECT_EQ(cli::terminalMessage(recovery::kParseDoneText), "");
    EXPECT_EQ(cli::terminalMessage("something new"), "something new");
}

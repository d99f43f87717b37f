// The command line's text output: names crafted to drive the terminal, a standard output
// that fails, the --at grammar and the volumes it cannot list, on real member files.

#include <gtest/gtest.h>

#include <fstream>
#include <nlohmann/json.hpp>

#include "ntfs/support/NtfsImage.h"
#include "support/RunCli.h"
#include "support/TempFolder.h"

using namespace quenlow::test;

namespace {

const std::string kDemo = std::string(QUENLOW_FIXTURE_DIR) + "/demo/";
const std::vector<std::string> kDemoArray = {"-m", kDemo + "member0.img", "-m", "MISSING", "-m", kDemo + "member2.img",
                                             "-l", "5", "--layout", "3", "-s", "128"};

std::vector<std::string> with(std::vector<std::string> a, const std::vector<std::string>& more) {
    a.insert(a.end(), more.begin(), more.end());
    return a;
}

// What a terminal would act on: ESC, BEL, the one-byte CSI (U+009B in UTF-8).
bool drivesTheTerminal(const std::string& s) {
    return s.find_first_of("\x1b\a") != std::string::npos || s.find("\xc2\x9b") != std::string::npos;
}

}  // namespace

TEST(CliTerminal, NamesFromTheDiskAreEscapedInListingsAndSaveReports) {
    NtfsImage img;  // 1 MiB: sectors 0-2047
    const std::u16string names[] = {u"\x1b]0;owned\x07.txt", u"\x1b[31mred", u"two\nlines", u"csi\x9b" u"2J",
                                    u"\x1b[31mred"};
    for (uint64_t i = 0; i < std::size(names); ++i)
        img.setRecord(16 + i, RecordBuilder().standardInfo(0, 0, 0).fileName(5, names[i]));
    TempFolder folder;
    const std::string member = (folder / "crafted.img").string();
    std::ofstream(member, std::ios::binary).write(reinterpret_cast<const char*>(img.bytes.data()), img.bytes.size());
    const std::vector<std::string> array = {"-m", member, "-l", "0"};
    const std::vector<std::string> volume = {"--at", "0", "--end", "2047", "--fs", "NTFS"};

    CliResult ls = runCli(with(array, with({"ls", "-R"}, volume)));
    ASSERT_EQ(ls.status, 0) << ls.err;
    EXPECT_FALSE(drivesTheTerminal(ls.out)) << ls.out;
    EXPECT_NE(ls.out.find("\\x1b]0;owned\\x07.txt"), std::string::npos) << ls.out;
    CliResult json = runCli(with(array, with({"ls", "-R", "--json"}, volume)));
    EXPECT_FALSE(drivesTheTerminal(json.out));
    auto entries = nlohmann::json::parse(json.out);
    EXPECT_EQ(entries[0]["name"], "\x1b]0;owned\x07.txt");  // the JSON value keeps the name
    // No name splits a row: one line per entry under the header.
    EXPECT_EQ(std::count(ls.out.begin(), ls.out.end(), '\n'), static_cast<long>(entries.size()) + 1);
    // Text that is not UTF-8 (here a member's name) is replaced in JSON, never thrown over.
    std::filesystem::create_symlink(member, folder / "\xff.img");
    CliResult info = runCli({"-m", (folder / "\xff.img").string(), "-l", "0", "info", "--json"});
    EXPECT_EQ(nlohmann::json::parse(info.out)["members"][0]["path"], (folder / "\xef\xbf\xbd.img").string());

    TempFolder out;
    CliResult save = runCli(with(array, with({"save", "/", "--out", out.str(), "--yes"}, volume)));
    EXPECT_FALSE(drivesTheTerminal(save.err + save.out)) << save.err;
    EXPECT_NE(save.err.find("saved under another name: \\x1b[31mred -> "), std::string::npos) << save.err;
    // The question and the progress in the command line's words, not the wizard's.
    EXPECT_NE(save.err.find("Save 5 files into " + out.str() + "? yes"), std::string::npos) << save.err;
    for (const char* wizard : {"do u want", "Select save button", "work done", "ParsingBasedOnMFT"})
        EXPECT_EQ((save.err + ls.err).find(wizard), std::string::npos) << wizard;
}

TEST(CliTerminal, AFailedWriteOnStandardOutputFailsTheCommand) {
    for (const std::vector<std::string>& command :
         {std::vector<std::string>{"info"}, {"ls", "0", "-R"}, {"ls", "0", "-R", "--json"}, {"--help"}}) {
        CliResult r = runCli(with(kDemoArray, command), "/dev/full");
        EXPECT_EQ(r.status, 1) << command[0];
        EXPECT_NE(r.err.find("cannot write to standard output"), std::string::npos) << r.err;
    }
}

TEST(CliTerminal, WithAtThereIsNoVolAndRawVolumesAreRefusedPlainly) {
    struct Case { std::vector<std::string> args; const char* fs; int status; const char* said; };
    for (const Case& c : {Case{{"ls", "Documents"}, "NTFS", 0, ""}, Case{{"ls", "0"}, "NTFS", 1, "no entry '0'"},
                          Case{{"ls", "0", "/"}, "NTFS", 2, "'/': with --at there is no VOL"},
                          Case{{"ls", "/"}, "RAW", 1, "use `carve`"},
                          Case{{"save", "/", "--out", "never-made"}, "RAW", 1, "use `carve`"}}) {
        CliResult r = runCli(with(kDemoArray, with(c.args, {"--at", "2048", "--end", "34815", "--fs", c.fs})));
        EXPECT_EQ(r.status, c.status) << c.args[1] << r.err;
        EXPECT_NE(r.err.find(c.said), std::string::npos) << r.err;
        EXPECT_EQ(r.err.find("not a valid drive"), std::string::npos) << r.err;
    }
}

// What the command line says about members and words it cannot use: each fault once, in
// words naming it; VHD members recognised by their footer whatever their names.

#include <gtest/gtest.h>

#include <filesystem>

#include "support/RunCli.h"
#include "support/TempFolder.h"

using quenlow::test::runCli;

TEST(CliMessages, EachFaultOnceAndVhdMembersByContent) {
    const std::string d = std::string(QUENLOW_FIXTURE_DIR) + "/vhd/";
    quenlow::test::TempFolder dir;
    const std::string x0 = (dir / "x0.img").string(), x1 = (dir / "x1.img").string(), gone = (dir / "gone").string();
    std::filesystem::create_symlink(d + "member0.vhd", x0);
    std::filesystem::create_symlink(d + "member1-fixed.vhd", x1);
    const std::string raw = d + "member1.img";

    struct Case {
        std::vector<std::string> args;
        int status;
        std::string once;    // said exactly once
        std::string absent;  // never said
    };
    const Case cases[] = {
        {{"--vhd", "-m", x0, "-m", x1, "-l", "0", "volumes"}, 0, "", "not a vhd"},
        {{"-m", x0, "-m", raw, "-l", "0", "info"}, 0, x0 + " carries a VHD footer; give --vhd", "member1.img carr"},
        {{"-m", gone, "-m", raw, "-l", "0", "info"}, 1, gone + ": No such file", "invalid handle"},
        {{"--vhd", "-m", gone, "-m", x1, "-l", "0", "info"}, 1, gone + ": No such file", "invalid handle"},
        {{"--vhd", "-m", raw, "-m", x1, "-l", "0", "info"}, 1, "not a VHD file", "not a vhd file\n"},
        {{"--vhd", "-m", gone, "probe"}, 1, gone + ": No such file", "invalid handle"},
        {{"-m", x0, "-l", "0", "frob"}, 2, "unknown command 'frob'; the commands are: drives, probe, info", "required"},
        {{"-m", x0, "-l", "0", "volumes", "--scan", "--start", "-1"}, 2, "--start: must be 0 or more", "1797"},
        {{"-m", x0, "-l", "0", "ls", "--at", "-5"}, 2, "--at: must be 0 or more", "1797"},
    };
    for (const Case& c : cases) {
        auto r = runCli(c.args);
        const std::string what = c.args.back() + " " + c.args[1] + "\n" + r.err;
        EXPECT_EQ(r.status, c.status) << what;
        const size_t first = r.err.find(c.once);
        EXPECT_TRUE(c.once.empty() || (first != std::string::npos && r.err.find(c.once, first + 1) == std::string::npos))
            << what;
        EXPECT_EQ(r.err.find(c.absent), std::string::npos) << what;
        EXPECT_EQ(r.out.find("FAT16") != std::string::npos, c.args.back() == "volumes" && c.status == 0) << r.out;
    }
}

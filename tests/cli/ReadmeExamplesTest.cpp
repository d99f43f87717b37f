// Every example command line of the README runs as written on the demo array.

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <iterator>
#include <sstream>

#include "support/RunCli.h"
#include "support/TempFolder.h"

namespace fsys = std::filesystem;
using namespace quenlow::test;

TEST(Readme, EveryExampleRunsAsWrittenOnTheDemoArray) {
    // The demo's folder and the VHD array beside it as links to the fixtures, so that what
    // the examples write stays out of the fixtures.
    TempFolder scratch;
    for (const char* folder : {"demo", "vhd"}) {
        fsys::create_directories(scratch / folder);
        for (const auto& f : fsys::directory_iterator(std::string(QUENLOW_FIXTURE_DIR) + "/" + folder))
            fsys::create_symlink(f.path(), scratch / folder / f.path().filename());
    }
    const fsys::path before = fsys::current_path();
    fsys::current_path(scratch / "demo");
    std::ifstream in(std::string(QUENLOW_SOURCE_DIR) + "/README.md");
    int examples = 0, inCode = 0;
    for (std::string line; std::getline(in, line);) {
        if (line.rfind("```", 0) == 0) inCode ^= 1;
        if (!inCode || line.rfind("quenlow -", 0) != 0) continue;  // not the synopsis
        EXPECT_EQ(line.find_first_of("'\"$`\\"), std::string::npos) << "no shell quoting here: " << line;
        std::istringstream words(line.substr(8));
        std::vector<std::string> args{std::istream_iterator<std::string>(words), {}};
        EXPECT_EQ(runCli(args, "/dev/null").status, 0) << line;
        ++examples;
    }
    EXPECT_GE(examples, 8);
    EXPECT_TRUE(fsys::exists("recovered/Documents/letter.txt"));
    fsys::current_path(before);
}

// The command line's handling of bad array options and bad members: a clear message naming
// the option or path, and exit status 2 for usage errors, 1 for failed work.

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>

#include "support/RunCli.h"

using quenlow::test::runCli;

namespace {

std::string tempImage(const std::string& name, size_t bytes) {
    auto p = std::filesystem::temp_directory_path() / ("quenlow-cli-" + std::to_string(::getpid()) + "-" + name);
    std::ofstream out(p, std::ios::binary);
    std::string data(bytes, '\0');
    for (size_t i = 0; i < bytes; ++i) data[i] = static_cast<char>(i * 7 + 3);
    out.write(data.data(), static_cast<std::streamsize>(data.size()));
    return p.string();
}

}  // namespace

TEST(CliArrayOptions, UsageErrorsNameTheOptionAndExitWithTwo) {
    auto r = runCli({"info"});
    EXPECT_EQ(r.status, 2);
    EXPECT_NE(r.err.find("--member"), std::string::npos);

    r = runCli({"-m", "a", "-l", "7", "info"});
    EXPECT_EQ(r.status, 2);
    EXPECT_NE(r.err.find("--level"), std::string::npos);

    r = runCli({"-m", "a", "-m", "b", "-m", "c", "-l", "5", "--layout", "5", "info"});
    EXPECT_EQ(r.status, 2);
    EXPECT_NE(r.err.find("--layout"), std::string::npos);

    r = runCli({"-m", "a", "-l", "0", "-s", "0", "info"});
    EXPECT_EQ(r.status, 2);
    EXPECT_NE(r.err.find("--stripe"), std::string::npos);

    r = runCli({"-m", "a", "-m", "b", "-l", "5", "info"});
    EXPECT_EQ(r.status, 2);
    EXPECT_NE(r.err.find("three"), std::string::npos);

    r = runCli({"-m", "a", "-m", "b", "-l", "0", "-o", "0,x", "info"});
    EXPECT_EQ(r.status, 2);
    EXPECT_NE(r.err.find("--offsets"), std::string::npos);

    r = runCli({"-m", "a", "-m", "b", "-l", "0", "-o", "0", "info"});
    EXPECT_EQ(r.status, 2);
    EXPECT_NE(r.err.find("--offsets"), std::string::npos);

    r = runCli({"nosuchcommand"});
    EXPECT_EQ(r.status, 2);
}

TEST(CliArrayOptions, MembersThatCannotBeReadFailNamingThePath) {
    auto good = tempImage("good.img", 1 << 20);
    auto r = runCli({"-m", good, "-m", "/nonexistent/member.img", "-l", "0", "info"});
    EXPECT_EQ(r.status, 1);
    EXPECT_NE(r.err.find("/nonexistent/member.img"), std::string::npos);

    r = runCli({"-m", good, "-m", std::filesystem::temp_directory_path().string(), "-l", "0", "info"});
    EXPECT_EQ(r.status, 1);
    EXPECT_NE(r.err.find("folder"), std::string::npos);
    std::filesystem::remove(good);
}

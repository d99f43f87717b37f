#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <sys/stat.h>
#include <unistd.h>

#include "platform/OutputFile.h"

using quenlow::platform::OutputFile;
namespace stdfs = std::filesystem;

namespace {
stdfs::path scratch(const char* name) {
    stdfs::path p = stdfs::temp_directory_path() / ("quenlow-outfile-" + std::to_string(::getpid()) + name);
    stdfs::remove_all(p);
    return p;
}
}  // namespace

TEST(OutputFile, WritesDataAndHolesAndSetsTimes) {
    stdfs::path p = scratch("a");
    OutputFile f;
    ASSERT_TRUE(f.createExclusive(p.string())) << f.error();
    ASSERT_TRUE(f.write("ab", 2));
    ASSERT_TRUE(f.writeZeros(5000));
    ASSERT_TRUE(f.write("c", 1));
    ASSERT_TRUE(f.writeZeros(3));  // a trailing hole still counts
    EXPECT_EQ(f.size(), 5006u);
    ASSERT_TRUE(f.setTimes({1000, 5}, {2000, 999999999}));
    ASSERT_TRUE(f.close());
    struct stat st {};
    ASSERT_EQ(::stat(p.c_str(), &st), 0);
    EXPECT_EQ(st.st_size, 5006);
    EXPECT_EQ(st.st_mtim.tv_sec, 2000);
    EXPECT_EQ(st.st_mtim.tv_nsec, 999999999);
    EXPECT_EQ(st.st_atim.tv_sec, 1000);
    std::ifstream in(p, std::ios::binary);
    std::string all((std::istreambuf_iterator<char>(in)), {});
    EXPECT_EQ(all.substr(0, 2), "ab");
    EXPECT_EQ(all[5002], 'c');
    EXPECT_EQ(all.substr(2, 5000), std::string(5000, '\0'));
    stdfs::remove(p);
}

TEST(OutputFile, NeverOpensWhatExists) {
    stdfs::path p = scratch("b");
    { std::ofstream(p) << "old"; }
    OutputFile f;
    EXPECT_FALSE(f.createExclusive(p.string()));
    EXPECT_NE(f.error().find(p.string()), std::string::npos);
    stdfs::path link = scratch("c");
    stdfs::create_symlink(scratch("d"), link);
    EXPECT_FALSE(f.createExclusive(link.string()));
    EXPECT_FALSE(stdfs::exists(scratch("d")));
    EXPECT_FALSE(f.createExclusive(""));
    EXPECT_FALSE(f.write("x", 1));
    stdfs::remove(p);
    stdfs::remove(link);
}

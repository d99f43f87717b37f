#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <numeric>
#include <unistd.h>
#include <vector>

#include "platform/ReadOnlyFile.h"

using quenlow::platform::ReadOnlyFile;

TEST(ReadOnlyFile, ScatteredReadsFillTargetsInTurnAndStopAtTheEnd) {
    char name[] = "/tmp/quenlow-rof-XXXXXX";
    int fd = mkstemp(name);
    ASSERT_GE(fd, 0);
    ::close(fd);
    std::vector<unsigned char> data(10000);
    std::iota(data.begin(), data.end(), 0);
    std::ofstream(name, std::ios::binary).write(reinterpret_cast<const char*>(data.data()), 10000);
    ReadOnlyFile file;
    ASSERT_TRUE(file.open(name));

    std::vector<unsigned char> a(1000, 0xEE), b(3000, 0xEE), c(7000, 0xEE);
    ReadOnlyFile::Target targets[] = {{a.data(), a.size()}, {b.data(), 0}, {b.data(), b.size()}, {c.data(), c.size()}};
    EXPECT_EQ(file.readScattered(targets, 3, 500), 4000);
    EXPECT_TRUE(std::equal(a.begin(), a.end(), data.begin() + 500));
    EXPECT_TRUE(std::equal(b.begin(), b.end(), data.begin() + 1500));
    // The last target runs past the end: what is there comes, the rest stays as it was.
    EXPECT_EQ(file.readScattered(targets + 2, 2, 1000), 9000);
    EXPECT_TRUE(std::equal(c.begin(), c.begin() + 6000, data.begin() + 4000));
    EXPECT_EQ(c[6000], 0xEE);
    EXPECT_EQ(file.readScattered(targets, 1, 20000), 0);
    std::remove(name);
}

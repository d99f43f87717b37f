#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <unistd.h>

#include "platform/BlockDevices.h"
#include "platform/ReadOnlyFile.h"

namespace fsys = std::filesystem;
using namespace quenlow::platform;

namespace {

void writeFile(const fsys::path& p, const std::string& text) {
    fsys::create_directories(p.parent_path());
    std::ofstream(p) << text;
}

}  // namespace

TEST(BlockDevices, ListsWholeDisksOnlyInNameOrder) {
    auto root = fsys::temp_directory_path() / ("quenlow-sys-" + std::to_string(::getpid()));
    fsys::remove_all(root);
    writeFile(root / "sdb" / "size", "2048\n");
    writeFile(root / "sda" / "size", "1000\n");
    writeFile(root / "sda" / "device" / "model", "DISK MODEL   \n");
    writeFile(root / "ram0" / "size", "100\n");
    writeFile(root / "zram0" / "size", "100\n");
    writeFile(root / "loop0" / "size", "0\n");                       // no backing file
    writeFile(root / "loop1" / "size", "64\n");
    writeFile(root / "loop1" / "loop" / "backing_file", "/tmp/x.img\n");
    writeFile(root / "sdc1" / "size", "8\n");
    writeFile(root / "sdc1" / "partition", "1\n");

    auto list = listWholeDisks(root.string(), "/dev");
    ASSERT_EQ(list.size(), 3u);
    EXPECT_EQ(list[0].name, "loop1");
    EXPECT_EQ(list[1].path, "/dev/sda");
    EXPECT_EQ(list[1].sizeBytes, 1000u * 512);
    EXPECT_EQ(list[1].model, "DISK MODEL");
    EXPECT_EQ(list[2].name, "sdb");
    fsys::remove_all(root);
}

TEST(ReadOnlyFile, RefusesFoldersAndMissingPathsAndReadsTails) {
    ReadOnlyFile f;
    EXPECT_FALSE(f.open("/nonexistent/file"));
    EXPECT_NE(f.error().find("/nonexistent/file"), std::string::npos);
    EXPECT_FALSE(f.open(fsys::temp_directory_path().string()));
    EXPECT_NE(f.error().find("folder"), std::string::npos);

    auto p = fsys::temp_directory_path() / ("quenlow-rof-" + std::to_string(::getpid()));
    writeFile(p, "0123456789");
    ASSERT_TRUE(f.open(p.string()));
    EXPECT_EQ(f.size(), 10u);
    char buf[8] = {};
    EXPECT_EQ(f.readAt(buf, 8, 6), 4);
    EXPECT_EQ(std::string(buf, 4), "6789");
    EXPECT_EQ(f.readAt(buf, 8, 100), 0);
    f.close();
    fsys::remove(p);
}

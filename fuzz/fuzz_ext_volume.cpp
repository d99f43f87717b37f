// A small ext volume (1 KiB blocks) whose descriptors, inode table and first directory and
// extent blocks are changed by the input, XORed over them (and, when the first byte says so,
// the superblock's first 128 bytes as well): the whole parse, the texts of every entry and
// saving every file must survive them, and every walk must end.
#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <string>
#include <unistd.h>

#include "ext/support/ExtImage.h"
#include "filesystems/MemoryTree.h"
#include "filesystems/ext/ext2Class.h"
#include "support/MemoryDisk.h"
#include "fuzz/FuzzHarness.h"
#include "support/ParserHarness.h"

using namespace quenlow;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    static const std::vector<uint8_t> base = [] {
        test::ExtImage img(1024, 64);
        img.put32(1024 + 100, 0x7B);
        img.inode(2, 0x41ED, 1024, {10});
        img.dirBlock(10, {{2, ".", 2}, {2, "..", 2}, {11, "sub", 2}, {12, "file.txt", 1, 12},
                          {13, "mapped.bin", 1}, {14, "link", 7}, {15, "dev", 4}});
        img.inode(11, 0x41ED, 2048);
        img.extentRoot(11, 1, {{0, 12}});
        img.extentNode(img.blockAt(12), 84, 0, {{0, 1, 13}, {1, 1, 16}});
        img.dirBlock(13, {{11, ".", 2}, {2, "..", 2}, {16, "inner.txt", 1}});
        img.dirBlock(16, {{17, "second.txt", 1}});
        img.inode(12, 0x81A4, 1500, {14, 15});
        img.inode(13, 0x81A4, 14 * 1024, {18, 0, 19});
        img.put32(img.inodeAt(13) + 40 + 48, 17);  // single indirect block
        img.put32(img.blockAt(17), 20), img.put32(img.blockAt(17) + 4, 21);
        img.inode(14, 0xA1FF, 8);
        std::memcpy(img.bytes.data() + img.inodeAt(14) + 40, "file.txt", 8);
        img.inode(15, 0x61B0, 0, {10});
        img.inode(16, 0x81A4, 300);
        img.extentRoot(16, 0, {{0, 1, 22}});
        img.inode(17, 0x81A4, 2000);
        img.extentRoot(17, 0, {{0, 32769, 23}, {1, 1, 24}});
        for (uint32_t b = 14; b < 26; ++b)
            if (b != 16 && b != 17) std::memset(img.bytes.data() + img.blockAt(b), static_cast<int>(b), 1024);
        return img.bytes;
    }();
    if (size == 0) return 0;
    std::vector<uint8_t> bytes = base;
    const uint8_t flags = data[0];
    ++data, --size;
    if ((flags & 1) != 0 && size >= 128) {
        for (size_t i = 0; i < 128; ++i) bytes[1024 + i] ^= data[i];
        data += 128, size -= 128;
    }
    for (size_t i = 0; i < size && 2048 + i < bytes.size(); ++i) bytes[2048 + i] ^= data[i];
    test::MemoryDisk disk(std::move(bytes));
    fs::MemoryTree tree;
    volumes::VolumeRecord volume;
    volume.volumeSizeText = "1";
    fs::ext2Class parser(test::setupOn(disk, volume, tree));
    test::parseIn(parser);
    const size_t n = parser.entries().size();
    std::vector<fs::EntryRef> all;
    for (size_t i = 1; i <= n; ++i) all.push_back(i);
    fuzz::exerciseEntries(parser, all);
    fuzz::walkMustEnd(parser, 2 * n + 2);
    return 0;
}

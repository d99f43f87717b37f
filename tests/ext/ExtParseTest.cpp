// The ext parser on volumes built byte by byte: the structures' fields, the naming walk's
// rules (file types, record lengths, "." at the first level), extent trees with index levels,
// the feature messages, and absurd or looping structures.

#include <gtest/gtest.h>

#include <cstring>
#include <functional>

#include "filesystems/MemoryTree.h"
#include "filesystems/ext/ExtDirEntry.h"
#include "filesystems/ext/ExtExtent.h"
#include "filesystems/ext/ExtGroupDescriptor.h"
#include "filesystems/ext/ExtSuperblock.h"
#include "filesystems/ext/ext2Class.h"
#include "support/ExtImage.h"
#include "support/MemoryDisk.h"
#include "support/ParserHarness.h"
#include "support/RecordingFeedback.h"

using namespace quenlow;
using test::ExtImage;

namespace {

std::span<const uint8_t> span(const std::vector<unsigned char>& v, size_t at, size_t n) {
    return std::span<const uint8_t>(v.data() + at, n);
}

// A 4 KiB-block volume of 64 blocks: the root (block 10) lists lost+found, a file of 5000
// bytes, a socket and a block device (whose mode bits include 0x4000), and a folder whose
// extent tree has an index level; one entry's record length is shorter than its name.
ExtImage sampleVolume() {
    ExtImage img(4096, 64);
    img.inode(2, 0x41ED, 4096, {10});
    img.dirBlock(10, {{2, ".", 2}, {2, "..", 2}, {11, "lost+found", 2}, {12, "five.txt", 1, 12},
                      {13, "sock", 6}, {14, "blk", 4}, {15, "sub", 2}});
    img.inode(11, 0x41C0, 4096, {11});
    img.dirBlock(11, {{11, ".", 2}, {2, "..", 2}});
    img.inode(12, 0x81A4, 5000, {20, 21}, 1700000000);
    for (size_t i = 0; i < 8192; ++i) img.bytes[img.blockAt(20) + i] = static_cast<unsigned char>('a' + i % 26);
    // A socket and a device whose block areas point at a block that looks like a folder.
    img.inode(13, 0xC1ED, 0, {40});
    img.inode(14, 0x61B0, 0, {40});
    img.dirBlock(40, {{40 / 40, ".", 2}, {17, "bogus", 1}});
    img.inode(17, 0x81A4, 10);
    // sub: root index -> leaf node at block 30 -> its block 31.
    img.inode(15, 0x41ED, 4096);
    img.extentRoot(15, 1, {{0, 30}});
    img.extentNode(img.blockAt(30), 340, 0, {{0, 1, 31}});
    img.dirBlock(31, {{15, ".", 2}, {2, "..", 2}, {16, "inner.txt", 1}});
    img.inode(16, 0x81A4, 3, {32});
    std::memcpy(img.bytes.data() + img.blockAt(32), "abc", 3);
    return img;
}

struct Parsed {
    explicit Parsed(std::vector<unsigned char> bytes) : disk(std::move(bytes)) {
        volume.fileSystem = "extX";
        volume.volumeSizeText = "1   MB";
        parser = std::make_unique<fs::ext2Class>(test::setupOn(disk, volume, tree));
        outcome = test::parseIn(*parser, feedback);
    }
    // The first level, or a folder's children, in list order.
    std::vector<fs::EntryRef> list(fs::EntryRef folder = fs::kNoEntry) const {
        if (folder == fs::kNoEntry) return parser->firstLevel();
        std::vector<fs::EntryRef> out;
        for (fs::EntryRef c = parser->firstChild(folder); c != fs::kNoEntry; c = parser->nextSibling(c)) out.push_back(c);
        return out;
    }
    std::vector<std::string> names(fs::EntryRef folder = fs::kNoEntry) const {
        std::vector<std::string> out;
        for (fs::EntryRef e : list(folder)) out.push_back(parser->name(e));
        return out;
    }
    fs::EntryRef find(const std::string& name, fs::EntryRef folder = fs::kNoEntry) const {
        for (fs::EntryRef e : list(folder))
            if (parser->name(e) == name) return e;
        return fs::kNoEntry;
    }
    test::MemoryDisk disk;
    volumes::VolumeRecord volume;
    fs::MemoryTree tree;
    test::RecordingFeedback feedback;
    std::unique_ptr<fs::ext2Class> parser;
    fs::ParseOutcome outcome;
};

}  // namespace

TEST(ExtStructures, FieldsAndTheirBounds) {
    ExtImage img(4096, 64);
    fs::ExtSuperblock s = fs::ExtSuperblock::parse(span(img.bytes, 1024, 1024));
    EXPECT_TRUE(s.plausible());
    EXPECT_EQ(s.groupCount(), 1u);
    EXPECT_EQ(s.blockSize(), 4096u);
    // Each of these makes the geometry unusable.
    const struct {
        size_t at;
        uint32_t value;
        bool wide;
    } kAbsurd[] = {{24, 7, false}, {88, 100, false}, {88, 8192, false}, {40, 0, false}, {32, 0, false},
                   {0, 33, false}, {4, 0, false},    {254, 32, true}};
    for (const auto& a : kAbsurd) {
        ExtImage bad(4096, 64);
        if (a.at == 88 || a.at == 254) bad.put16(1024 + a.at, static_cast<uint16_t>(a.value));
        else bad.put32(1024 + a.at, a.value);
        if (a.wide) bad.put32(1024 + 96, 0x82);
        EXPECT_FALSE(fs::ExtSuperblock::parse(span(bad.bytes, 1024, 1024)).plausible()) << a.at;
    }
    // 64-byte descriptors carry the high halves; a partial last group still counts.
    std::vector<unsigned char> d(64);
    d[8] = 0x34, d[40] = 0x02, d[18] = 1, d[28] = 5, d[50] = 1;
    fs::ExtGroupDescriptor g = fs::ExtGroupDescriptor::parse(span(d, 0, 64), true);
    EXPECT_EQ(g.inodeTable, (uint64_t{2} << 32) | 0x34);
    EXPECT_EQ(g.itableUnused, (1u << 16) | 5);
    EXPECT_EQ(fs::ExtGroupDescriptor::parse(span(d, 0, 64), false).inodeTable, 0x34u);
    s.blocksCount = 32769, s.blocksPerGroup = 32768, s.firstDataBlock = 0;
    EXPECT_EQ(s.groupCount(), 2u);
    // Extents: the high 16 bits of the start, uninitialised lengths above 32768.
    std::vector<unsigned char> x = {0, 0, 0, 0, 0x01, 0x80, 0x07, 0x00, 0x10, 0, 0, 0};
    fs::ExtExtent e = fs::ExtExtent::parse(span(x, 0, 12));
    EXPECT_TRUE(e.uninitialised);
    EXPECT_EQ(e.length, 1u);
    EXPECT_EQ(e.start, (uint64_t{7} << 32) | 0x10);
    x[5] = 0x80, x[4] = 0;
    EXPECT_FALSE(fs::ExtExtent::parse(span(x, 0, 12)).uninitialised);
    // A record length below the real size + 4 advances by the real size.
    std::vector<unsigned char> de = {5, 0, 0, 0, 8, 0, 5, 1, 'a', 'b', 'c', 'd', 'e', 0, 0, 0};
    EXPECT_EQ(fs::ExtDirEntry::parse(span(de, 0, de.size()), true).advance(), 16u);
}

TEST(ExtParse, SampleVolume) {
    ExtImage img = sampleVolume();
    Parsed p(img.bytes);
    ASSERT_TRUE(p.outcome.status.ok()) << p.outcome.status.reason();
    // Falling inode order; the root's own "." is an empty folder; the socket and the device
    // are not shown at the first level and are never walked as folders.
    EXPECT_EQ(p.names(), (std::vector<std::string>{"sub", "five.txt", "lost+found", "."}));
    fs::EntryRef root = p.find(".");
    EXPECT_TRUE(p.parser->isFolder(root));
    EXPECT_FALSE(p.parser->hasChildren(root));
    fs::EntryRef rootRecord = p.parser->refOfKey(fs::kExtRootKey);
    EXPECT_EQ(p.names(rootRecord), (std::vector<std::string>{"sub", "blk", "sock", "five.txt", "lost+found", "."}));
    EXPECT_FALSE(p.parser->isFolder(p.find("sock", rootRecord)));
    EXPECT_FALSE(p.parser->isFile(p.find("blk", rootRecord)));
    for (const auto& e : p.parser->entries()) EXPECT_NE(e.name, "bogus");
    // 5000 bytes on 4096-byte blocks: a whole block and 904 bytes of the next.
    fs::EntryRef five = p.find("five.txt");
    std::string data = test::readData(*p.parser, five);
    ASSERT_EQ(data.size(), 5000u);
    EXPECT_EQ(data[4096], 'a' + 4096 % 26);
    EXPECT_EQ(p.parser->times(five).modified->seconds, 1700000000);
    EXPECT_EQ(p.parser->entryTexts(five).attributes, "-OR-GR-UW-UR");
    // The folder behind an index level keeps its entries.
    fs::EntryRef sub = p.find("sub");
    EXPECT_EQ(p.names(sub), (std::vector<std::string>{"inner.txt"}));
    EXPECT_EQ(test::readData(*p.parser, p.find("inner.txt", sub)), "abc");
}

TEST(ExtParse, FeatureMessages) {
    const struct {
        uint32_t roCompat;
        const char* message;
    } kCases[] = {{0, fs::kExt2Text}, {0x3, fs::kExt3Text}, {0x7B, fs::kExt4Text}, {0x1, nullptr}};
    for (const auto& c : kCases) {
        ExtImage img = sampleVolume();
        img.put32(1024 + 100, c.roCompat);
        Parsed p(img.bytes);
        std::vector<std::string> expected;
        if (c.message != nullptr) expected.push_back(c.message);
        EXPECT_EQ(p.feedback.messages, expected) << c.roCompat;
    }
}

// Damaged trees and blocks never crash or hang: a file's unreadable parts are damaged holes,
// a folder's are passed over; a superblock or descriptor table that cannot be used fails.
TEST(ExtParse, BadInput) {
    auto withFile = [](auto change) {
        ExtImage img = sampleVolume();
        change(img);
        return Parsed(img.bytes);
    };
    // An index entry that points at its own node, one that is too deep, and one past the
    // volume: the file's blocks are reported damaged.
    const std::vector<std::function<void(ExtImage&)>> kTrees = {
        [](ExtImage& i) { i.extentRoot(12, 1, {{0, 30}}), i.extentNode(i.blockAt(30), 340, 1, {{0, 30}}); },
        [](ExtImage& i) { i.extentRoot(12, 6, {{0, 30}}); },
        [](ExtImage& i) { i.extentRoot(12, 1, {{0, 9999}}); },
        [](ExtImage& i) { i.extentRoot(12, 0, {{0, 2, 20, 0xFFFF}}); },
    };
    for (size_t k = 0; k < kTrees.size(); ++k) {
        Parsed p = withFile(kTrees[k]);
        fs::EntryRef five = p.find("five.txt");
        ASSERT_NE(five, fs::kNoEntry) << k;
        fs::Result<fs::EntryData> data = p.parser->openData(five, silentFeedback());
        ASSERT_TRUE(data.ok()) << k;
        EXPECT_EQ(data->stream->damaged(), (std::vector<disk::ByteRange>{{0, 5000}})) << k;
    }
    // A name that runs past its block ends the block; the entries before it stay.
    Parsed cut = withFile([](ExtImage& i) {
        size_t b = i.blockAt(31);
        i.put16(b + 12 + 4, 4074);
        i.put32(b + 4086, 16), i.put16(b + 4090, 12), i.bytes[b + 4092] = 9, i.bytes[b + 4093] = 1;
    });
    EXPECT_TRUE(cut.names(cut.find("sub")).empty());
    EXPECT_EQ(cut.names().size(), 4u);
    // Unusable geometry or descriptors past the end of the source.
    const std::vector<std::function<void(ExtImage&)>> kFatal = {
        [](ExtImage& i) { i.put16(1024 + 56, 0); },
        [](ExtImage& i) { i.put32(1024 + 4, 1u << 31), i.put32(1024 + 32, 8), i.put32(1024 + 0, 32); },
    };
    for (const auto& f : kFatal) {
        Parsed p = withFile(f);
        EXPECT_FALSE(p.outcome.status.ok());
        EXPECT_TRUE(p.outcome.complete);
        EXPECT_TRUE(p.parser->firstLevel().empty());
    }
}

// With group checksums, the unused tail of a group's inode table is not read: a folder
// inode there is not walked.
TEST(ExtParse, UnusedInodeTableIsNotRead) {
    ExtImage img = sampleVolume();
    img.put32(1024 + 100, 0x400);
    img.put16(img.descriptorAt() + 28, ExtImage::kInodesPerGroup - 14);  // inodes 1-14 in use
    Parsed p(img.bytes);
    EXPECT_EQ(p.names(), (std::vector<std::string>{"sub", "five.txt", "lost+found", "."}));
    EXPECT_TRUE(p.names(p.find("sub")).empty());  // inode 15 lies in the unused tail
}

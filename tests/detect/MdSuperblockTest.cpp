// md superblocks: our reading of the fixture members against what mdadm --examine said of
// them, untrustworthy superblocks refused, and md's RAID-5 algorithms mapped to our layouts.

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <regex>
#include <sstream>

#include "detect/ArrayDetect.h"
#include "disk/FileReadSeek.h"
#include "disk/FileReadSeekRaid.h"
#include "support/TempFolder.h"

using namespace quenlow;
namespace fsys = std::filesystem;

namespace {

const std::string kMd = std::string(QUENLOW_FIXTURE_DIR) + "/md";

detect::MemberReport examine(const std::string& path) {
    detect::MemberReport m;
    m.name = path;
    disk::FileReadSeek reader;
    EXPECT_TRUE(reader.open(path));
    detect::examineMd(reader, m);
    return m;
}

std::string field(const std::string& text, const std::string& name) {
    std::smatch m;
    const std::regex re("\\n *" + name + " : ([^\\n]*)");
    return std::regex_search(text, m, re) ? m[1].str() : "";
}

TEST(MdSuperblock, ReadsWhatMdadmReads) {
    int compared = 0;
    for (const auto& set : fsys::directory_iterator(kMd)) {
        if (!set.is_directory()) continue;
        for (const auto& file : fsys::directory_iterator(set.path())) {
            if (file.path().extension() != ".txt") continue;
            std::ifstream in(file.path());
            const std::string text((std::istreambuf_iterator<char>(in)), {});
            const std::string image = (set.path() / file.path().stem().stem()).string() + ".img";
            SCOPED_TRACE(image);
            const auto m = examine(image);
            ASSERT_GE(m.trustedMd, 0);
            const auto& sb = m.md[static_cast<size_t>(m.trustedMd)].superblock;
            const bool old = sb.versionText() == "0.90";
            EXPECT_EQ(field(text, old ? "UUID" : "Array UUID"), sb.uuidText());
            EXPECT_EQ(field(text, "Raid Level"), sb.levelText());
            EXPECT_EQ(field(text, "Raid Devices"), std::to_string(sb.raidDisks));
            EXPECT_EQ(field(text, "Chunk Size"), std::to_string(sb.chunkBytes / 1024) + "K");
            EXPECT_EQ(field(text, "Events"), std::to_string(sb.events));
            if (sb.level == 5) {
                EXPECT_EQ(field(text, "Layout"), sb.layoutText());
            }
            if (old) {
                EXPECT_NE(text.find("this     " + std::to_string(sb.role)), std::string::npos);
            } else {
                EXPECT_EQ(field(text, "Device Role"), "Active device " + std::to_string(sb.role));
                const std::string offset = field(text, "Data Offset");
                EXPECT_EQ(offset.empty() ? "0 sectors" : offset, std::to_string(sb.dataOffset) + " sectors");
            }
            EXPECT_NE(field(text, "Checksum").find("correct"), std::string::npos);
            ++compared;
        }
    }
    EXPECT_GE(compared, 13);
    // The big-endian 0.90 set has no mdadm reading on this host; its fields are ours to check.
    const auto be = examine(kMd + "/v090be-raid5-ra/member2.img");
    ASSERT_GE(be.trustedMd, 0);
    EXPECT_TRUE(be.md[0].superblock.bigEndian);
    EXPECT_EQ(be.md[0].superblock.role, 2u);
    EXPECT_EQ(be.md[0].superblock.layoutText(), "right-asymmetric");
}

// Crafted superblocks: each fault makes the superblock untrusted, never a crash.
TEST(MdSuperblock, UntrustworthySuperblocksAreRefused) {
    const std::string good = kMd + "/v12-raid5-ls/member0.img";
    std::ifstream in(good, std::ios::binary);
    std::vector<uint8_t> bytes((std::istreambuf_iterator<char>(in)), {});
    struct Case {
        const char* name;
        size_t at;
        uint32_t value;
        bool fixChecksum;
    };
    const Case cases[] = {
        {"checksum", 4096 + 216, 0x12345678, false}, {"role beyond the disks", 4096 + 256, 7, true},
        {"chunk of 0", 4096 + 88, 0, true},          {"data past the member", 4096 + 136, 0x7FFFFFFF, true},
        {"absurd role table", 4096 + 220, 0xFFFFFF, true}, {"no raid disks", 4096 + 92, 0, true},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        auto copy = bytes;
        for (int b = 0; b < 4; ++b) copy[c.at + b] = static_cast<uint8_t>(c.value >> (8 * b));
        if (c.fixChecksum) {
            const auto sb = disk::MdSuperblock::parse({copy.data() + 4096, 4096}, disk::MdSuperblock::Version::V12);
            ASSERT_TRUE(sb);
            for (int b = 0; b < 4; ++b) copy[4096 + 216 + b] = static_cast<uint8_t>(sb->computedChecksum >> (8 * b));
        }
        const auto sb = disk::MdSuperblock::parse({copy.data() + 4096, 4096}, disk::MdSuperblock::Version::V12);
        ASSERT_TRUE(sb);
        EXPECT_FALSE(sb->problems(static_cast<int64_t>(copy.size())).empty());
    }
}

// md's RAID-5 algorithms as md defines them, striped here without our readers' mapping:
// left = parity from the last member backwards, right = from the first forwards; symmetric
// = data continues after the parity, asymmetric = data restarts at member 0.
TEST(MdSuperblock, MdLayoutsMapToOurs) {
    const int n = 4;
    const int64_t unit = 8;
    const int64_t rows = 12;
    for (uint32_t md = 0; md < 4; ++md) {
        SCOPED_TRACE(md);
        std::vector<std::vector<uint8_t>> members(n, std::vector<uint8_t>(rows * unit * 512));
        std::vector<uint8_t> expected;
        for (int64_t row = 0; row < rows; ++row) {
            const bool left = md == 0 || md == 2, symmetric = md >= 2;
            const int parity = left ? n - 1 - static_cast<int>(row % n) : static_cast<int>(row % n);
            for (int k = 0; k < n - 1; ++k) {
                const int data = symmetric ? (parity + 1 + k) % n : (k < parity ? k : k + 1);
                for (int64_t b = 0; b < unit * 512; ++b) {
                    const auto v = static_cast<uint8_t>((row * 131 + k * 17 + b * 7) & 0xFF);
                    members[data][row * unit * 512 + b] = v;
                    members[parity][row * unit * 512 + b] ^= v;
                    expected.push_back(v);
                }
            }
        }
        test::TempFolder dir;
        disk::FileReadSeekRaid raid;
        for (int m = 0; m < n; ++m) {
            const std::string path = (dir / ("m" + std::to_string(m))).string();
            std::ofstream(path, std::ios::binary).write(reinterpret_cast<const char*>(members[m].data()),
                                                        static_cast<std::streamsize>(members[m].size()));
            raid.memberNames.push_back(m == 1 ? disk::kMissingDiskName : path);
        }
        raid.level = 5;
        raid.parityLayout = detect::layoutFromMd(md);
        raid.stripeSectors = unit;
        ASSERT_TRUE(raid.open());
        std::vector<uint8_t> got(expected.size());
        ASSERT_TRUE(raid.seek(0) && raid.read(got.data(), static_cast<uint32_t>(got.size())));
        EXPECT_EQ(got, expected);
    }
}

}  // namespace

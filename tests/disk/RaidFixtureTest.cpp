// A disk image made by real tools, striped into members here and read back through the
// virtual disk: every layout, healthy and with each member missing, drive images and VHDs.

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <iterator>

#include "disk/FileReadSeekRaid.h"
#include "disk/support/ReferenceRaid.h"
#include "disk/support/TempDir.h"
#include "disk/support/VhdBuilder.h"

using namespace quenlow;

namespace {

constexpr size_t kImageBytes = 12 * 1024 * 1024;

std::vector<unsigned char> fixtureImage() {
    std::ifstream in(std::string(QUENLOW_FIXTURE_DIR) + "/disks/mbr/disk.img", std::ios::binary);
    std::vector<unsigned char> image(kImageBytes);
    in.read(reinterpret_cast<char*>(image.data()), static_cast<std::streamsize>(image.size()));
    if (in.gcount() != static_cast<std::streamsize>(image.size())) image.clear();
    return image;
}

// Members of the array holding `image`, each with `offset` sectors of zeros in front.
std::vector<std::vector<unsigned char>> stripe(const std::vector<unsigned char>& image, int n, int level, int layout,
                                               int64_t unit, int64_t offset) {
    const int64_t dataMembers = level == 0 ? n : n - 1;
    const int64_t sectors = static_cast<int64_t>(image.size() / 512);
    const int64_t memberSectors = (sectors + dataMembers * unit - 1) / (dataMembers * unit) * unit;
    std::vector<std::vector<unsigned char>> members(n, std::vector<unsigned char>((offset + memberSectors) * 512, 0));
    for (int64_t l = 0; l < sectors; ++l) {
        int64_t m = 0;
        int64_t s = 0;
        test::ReferenceRaid::map(l, n, level, layout, unit, &m, &s);
        std::copy_n(image.begin() + l * 512, 512, members[m].begin() + (offset + s) * 512);
    }
    if (level == 5) {
        for (int64_t row = 0; row < memberSectors / unit; ++row) {
            int64_t p = layout == 1 ? row % n : n - 1 - row % n;
            for (int64_t b = (offset + row * unit) * 512; b < (offset + (row + 1) * unit) * 512; ++b) {
                unsigned char x = 0;
                for (int m = 0; m < n; ++m)
                    if (m != p) x ^= members[m][b];
                members[p][b] = x;
            }
        }
    }
    return members;
}

}  // namespace

TEST(RaidFixture, StripedDiskReadsBackByteForByte) {
    auto image = fixtureImage();
    if (image.empty()) GTEST_SKIP() << "fixture disks/mbr/disk.img not unpacked";
    test::TempDir dir;
    struct Case { int n; int level; int layout; int64_t unit; bool vhd; };
    const Case cases[] = {{2, 0, 1, 128, false}, {3, 5, 1, 64, false}, {3, 5, 2, 128, true},
                          {4, 5, 3, 16, false}, {3, 5, 3, 128, true}};
    std::vector<unsigned char> buf(1024 * 1024);
    for (const auto& c : cases) {
        const int64_t offset = 2048;
        auto members = stripe(image, c.n, c.level, c.layout, c.unit, offset);
        std::vector<std::string> paths;
        for (int m = 0; m < c.n; ++m) {
            std::string name = "m" + std::to_string(m) + (c.vhd ? ".vhd" : ".img");
            paths.push_back(dir.write(name, c.vhd ? test::buildDynamicVhd(members[m]) : members[m]));
        }
        // Healthy, then (RAID-5) each member missing in turn.
        for (int missing = -1; missing < (c.level == 5 ? c.n : 0); ++missing) {
            SCOPED_TRACE("members " + std::to_string(c.n) + " level " + std::to_string(c.level) + " layout " +
                         std::to_string(c.layout) + " missing " + std::to_string(missing));
            disk::FileReadSeekRaid raid;
            raid.memberNames = paths;
            if (missing >= 0) raid.memberNames[missing] = "MISSING DISK";
            raid.partitionOffsets.assign(c.n, offset);
            raid.level = c.level;
            raid.parityLayout = c.layout;
            raid.stripeSectors = c.unit;
            raid.vhdMembers = c.vhd ? 1 : 0;
            ASSERT_TRUE(raid.open()) << raid.lastError();
            ASSERT_GE(raid.totalSectors() * 512, image.size());
            ASSERT_TRUE(raid.seek(0, 0));
            for (size_t at = 0; at < image.size(); at += buf.size()) {
                ASSERT_TRUE(raid.read(buf.data(), static_cast<uint32_t>(buf.size())));
                ASSERT_TRUE(std::equal(buf.begin(), buf.end(), image.begin() + static_cast<std::ptrdiff_t>(at)))
                    << "MiB " << at / buf.size();
            }
        }
        for (const auto& p : paths) std::filesystem::remove(p);
    }
}

// The virtual disk's run-at-once reads against the sector-by-sector definition, on random
// arrays: both levels, every layout, 2 to 6 members, one or two missing members, partition
// offsets, short and empty members, VHD members cut short, drive images and VHD members,
// reads past the disk's end.

#include <gtest/gtest.h>

#include <algorithm>
#include <random>

#include "disk/FileReadSeekRaid.h"
#include "disk/support/ReferenceRaid.h"
#include "disk/support/TempDir.h"
#include "disk/support/VhdBuilder.h"

using namespace quenlow;

namespace {

struct Array {
    std::vector<std::string> names;
    std::vector<int64_t> offsets;
    int level = 0;
    int layout = 1;
    int64_t stripe = 8;
    bool vhd = false;
    std::string describe() const {
        std::string s = "level " + std::to_string(level) + " layout " + std::to_string(layout) + " stripe " +
                        std::to_string(stripe) + (vhd ? " vhd" : "") + " members";
        for (size_t i = 0; i < names.size(); ++i)
            s += " [" + names[i].substr(names[i].find_last_of('/') + 1) + " @" + std::to_string(offsets[i]) + "]";
        return s;
    }
};

Array randomArray(std::mt19937& rng, const test::TempDir& dir, int index) {
    auto pick = [&](int lo, int hi) { return std::uniform_int_distribution<int>(lo, hi)(rng); };
    Array a;
    a.level = pick(0, 1) == 0 ? 0 : 5;
    a.layout = pick(1, 3);
    int n = a.level == 5 ? pick(3, 6) : pick(2, 6);
    const int64_t stripes[] = {1, 2, 3, 8, 16, 32};
    a.stripe = stripes[pick(0, 5)];
    a.vhd = pick(0, 3) == 0;
    int missing = pick(0, 2) == 0 ? pick(0, n - 1) : -1;
    int missingToo = pick(0, 5) == 0 ? pick(0, n - 1) : -1;
    for (int m = 0; m < n; ++m) {
        int64_t offset = pick(0, 3) == 0 ? pick(0, 40) : 0;
        const bool empty = !a.vhd && pick(0, 14) == 0;
        if (empty) offset = 0;
        a.offsets.push_back(offset);
        if (m == missing || m == missingToo) {
            a.names.push_back(m % 2 == 0 ? "MISSING DISK" : "missing disk");
            continue;
        }
        // Mostly about the same size; now and then a short one, one that ends mid-sector, or
        // an empty one.
        size_t sectors = static_cast<size_t>(offset + pick(60, 90) + (pick(0, 4) == 0 ? -pick(10, 50) : 0));
        if (empty) sectors = 0;
        size_t bytes = sectors * 512 + (pick(0, 4) == 0 ? static_cast<size_t>(pick(1, 511)) : 0);
        std::vector<unsigned char> data(bytes);
        for (auto& b : data) b = static_cast<unsigned char>(rng());
        // Appended, not "a" + std::to_string(...): GCC 12 at -O3 sees a false overlap in
        // the inlined insert of a literal before a temporary string (-Wrestrict).
        std::string name = "a";
        name.append(std::to_string(index)).append("m").append(std::to_string(m));
        if (a.vhd) {
            test::VhdLayout layout;
            layout.blockBytes = pick(0, 1) == 0 ? 4096 : 8192;
            layout.shuffle = true;
            layout.seed = static_cast<uint32_t>(rng());
            size_t blocks = (data.size() + layout.blockBytes - 1) / layout.blockBytes;
            for (size_t b = 0; b < blocks; ++b) layout.unallocated.push_back(pick(0, 5) == 0);
            auto file = test::buildDynamicVhd(data, layout);
            if (pick(0, 3) == 0) {
                // Truncated: some allocated blocks lie partly or wholly past the end.
                size_t tableEnd = 1536 + (blocks * 4 + 511) / 512 * 512;
                file.resize(tableEnd + static_cast<size_t>(pick(0, static_cast<int>(file.size() - tableEnd))));
            }
            a.names.push_back(dir.write(name + ".vhd", file));
        } else {
            a.names.push_back(dir.write(name + ".img", data));
        }
    }
    return a;
}

// Fewer arrays under the sanitizers, where every sector costs far more.
#ifdef __SANITIZE_ADDRESS__
constexpr int kArrays = 100;
#else
constexpr int kArrays = 400;
#endif

int currentIndex(const disk::FileReadSeekRaid& raid) {
    for (size_t i = 0; i < raid.members.size(); ++i)
        if (raid.members[i].get() == raid.current()) return static_cast<int>(i);
    return -1;
}

}  // namespace

TEST(RaidProperty, RunReadsMatchTheSectorBySectorDefinition) {
    test::TempDir dir;
    std::mt19937 rng(20261209);
    auto pick = [&](int lo, int hi) { return std::uniform_int_distribution<int>(lo, hi)(rng); };
    for (int round = 0; round < kArrays; ++round) {
        Array a = randomArray(rng, dir, round);
        SCOPED_TRACE(a.describe());
        disk::FileReadSeekRaid raid;
        raid.memberNames = a.names;
        raid.partitionOffsets = a.offsets;
        raid.level = a.level;
        raid.parityLayout = a.layout;
        raid.stripeSectors = a.stripe;
        raid.vhdMembers = a.vhd ? 1 : 0;
        test::ReferenceRaid ref;
        const bool opened = ref.open(a.names, a.offsets, a.level, a.layout, a.stripe, a.vhd);
        ASSERT_EQ(raid.open(), opened) << raid.lastError();
        if (!opened) continue;  // no sectors at all: refused
        ASSERT_EQ(static_cast<int64_t>(raid.totalSectors()), ref.totalSectors);

        const int64_t span = static_cast<int64_t>(a.names.size()) * 100 * 512;
        for (int op = 0; op < 60; ++op) {
            int kind = pick(0, 9);
            if (kind < 4) {
                int64_t offset = std::uniform_int_distribution<int64_t>(0, span)(rng);
                if (pick(0, 2) != 0) offset -= offset % 512;
                if (pick(0, 9) == 0) offset = -pick(1, 2000);
                bool got = raid.seek(offset, 0);
                bool want = ref.seek(offset);
                ASSERT_EQ(got, want) << "seek " << offset;
            } else if (kind == 4) {
                int64_t base = pick(0, 3) == 0 ? 0 : pick(0, 50) * 512;
                raid.baseOffset = base;
                ref.baseOffset = base;
                continue;
            } else {
                uint32_t sectors = static_cast<uint32_t>(pick(0, static_cast<int>(a.stripe) * 3 * static_cast<int>(a.names.size())));
                uint32_t count = sectors * 512 + (pick(0, 4) == 0 ? static_cast<uint32_t>(pick(0, 511)) : 0);
                std::vector<unsigned char> got(count + 16), want(count + 16);
                for (size_t i = 0; i < got.size(); ++i) got[i] = want[i] = static_cast<unsigned char>(i * 7 + op);
                bool gotOk = raid.read(got.data(), count);
                bool wantOk = ref.read(want.data(), count);
                ASSERT_EQ(gotOk, wantOk) << "read " << count << " at " << ref.position;
                auto diff = std::mismatch(got.begin(), got.end(), want.begin());
                ASSERT_TRUE(diff.first == got.end())
                    << "read " << count << " differs at byte " << (diff.first - got.begin());
            }
            ASSERT_EQ(raid.position, ref.position) << "op " << op << " kind " << kind;
            ASSERT_EQ(currentIndex(raid), ref.current) << "op " << op << " kind " << kind << " pos " << ref.position;
        }
    }
}

TEST(RaidProperty, RunOfSectorsMatchesSeekAndReadOfEach) {
    test::TempDir dir;
    std::mt19937 rng(20261210);
    auto pick = [&](int lo, int hi) { return std::uniform_int_distribution<int>(lo, hi)(rng); };
    for (int round = 0; round < kArrays / 2; ++round) {
        Array a = randomArray(rng, dir, round);
        SCOPED_TRACE(a.describe());
        disk::FileReadSeekRaid fast, slow;
        for (auto* raid : {&fast, &slow}) {
            raid->memberNames = a.names;
            raid->partitionOffsets = a.offsets;
            raid->level = a.level;
            raid->parityLayout = a.layout;
            raid->stripeSectors = a.stripe;
            raid->vhdMembers = a.vhd ? 1 : 0;
        }
        if (!fast.open() || !slow.open()) continue;
        const int64_t span = static_cast<int64_t>(a.names.size()) * 100 * 512;
        for (int op = 0; op < 30; ++op) {
            int64_t base = pick(0, 3) == 0 ? pick(0, 50) * 512 : 0;
            fast.baseOffset = slow.baseOffset = base;
            int64_t offset = std::uniform_int_distribution<int64_t>(0, span)(rng);
            offset -= offset % 512;
            uint32_t sectors = static_cast<uint32_t>(pick(0, static_cast<int>(a.stripe) * 3 * static_cast<int>(a.names.size())));
            std::vector<unsigned char> got(sectors * 512 + 1, 0xAA), want(sectors * 512 + 1, 0xAA);
            uint32_t gotRun = fast.readRun(offset, got.data(), sectors);
            uint32_t wantRun = slow.disk::readWriteInterface::readRun(offset, want.data(), sectors);
            ASSERT_EQ(gotRun, wantRun) << sectors << " sectors at " << offset << " base " << base;
            ASSERT_TRUE(std::equal(got.begin(), got.begin() + gotRun * 512, want.begin()))
                << sectors << " sectors at " << offset;
            ASSERT_EQ(got.back(), 0xAA);
        }
    }
}

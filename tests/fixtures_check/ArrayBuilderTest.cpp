// ArrayBuilder against the published row pictures of the parity layouts, and a round
// trip through member files and an independent de-striping.

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <iterator>
#include <random>
#include <sstream>
#include <string>
#include <vector>

#include "support/ArrayBuilder.h"

using quenlow::test::ArrayBuilder;
using quenlow::test::ArrayGeometry;
using quenlow::test::BuiltArray;
using quenlow::test::placeSector;

namespace {

std::vector<unsigned char> readFile(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return std::vector<unsigned char>((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
}

// De-striping written from the row pictures rather than from placeSector's arithmetic:
// each row lists its data members in the order the row's units are stored.
std::vector<unsigned char> destripe(const BuiltArray& a, int missing = -1) {
    const ArrayGeometry& g = a.geometry;
    const size_t n = g.members, unit = static_cast<size_t>(g.stripeSectors) * 512;
    std::vector<std::vector<unsigned char>> m;
    for (size_t i = 0; i < n; ++i) m.push_back(readFile(a.memberPaths[i]));
    const size_t rows = static_cast<size_t>(a.memberDataSectors) * 512 / unit;
    auto unitAt = [&](size_t member, size_t row) {
        std::vector<unsigned char> u(unit, 0);
        if (static_cast<int>(member) == missing) {  // rebuilt from all the others
            for (size_t i = 0; i < n; ++i) {
                if (static_cast<int>(i) == missing) continue;
                auto other = m[i].begin() + static_cast<std::ptrdiff_t>(static_cast<size_t>(g.offset(i)) * 512 + row * unit);
                for (size_t b = 0; b < unit; ++b) u[b] ^= other[static_cast<std::ptrdiff_t>(b)];
            }
            return u;
        }
        auto from = m[member].begin() + static_cast<std::ptrdiff_t>(static_cast<size_t>(g.offset(member)) * 512 + row * unit);
        std::copy(from, from + static_cast<std::ptrdiff_t>(unit), u.begin());
        return u;
    };
    std::vector<unsigned char> out;
    for (size_t r = 0; r < rows; ++r) {
        std::vector<size_t> order;
        if (g.level == 0) {
            for (size_t i = 0; i < n; ++i) order.push_back(i);
        } else {
            size_t p = g.layout == 1 ? r % n : n - 1 - r % n;
            if (g.layout == 3) {
                for (size_t j = 1; j < n; ++j) order.push_back((p + j) % n);
            } else {
                for (size_t i = 0; i < n; ++i)
                    if (i != p) order.push_back(i);
            }
        }
        for (size_t member : order) {
            auto u = unitAt(member, r);
            out.insert(out.end(), u.begin(), u.end());
        }
    }
    return out;
}

}  // namespace

// Four members, one-sector stripe units: unit q is filled with the byte q + 1, so every
// member sector shows which unit (or parity) it holds.
TEST(ArrayBuilder, FourMemberRowsMatchTheLayoutPictures) {
    const char* pictures[3][4] = {
        {"P D0 D1 D2", "D3 P D4 D5", "D6 D7 P D8", "D9 D10 D11 P"},
        {"D0 D1 D2 P", "D3 D4 P D5", "D6 P D7 D8", "P D9 D10 D11"},
        {"D0 D1 D2 P", "D4 D5 P D3", "D8 P D6 D7", "P D9 D10 D11"},
    };
    std::vector<unsigned char> source;
    for (int q = 0; q < 12; ++q) source.insert(source.end(), 512, static_cast<unsigned char>(q + 1));
    for (int layout = 1; layout <= 3; ++layout) {
        SCOPED_TRACE(layout);
        BuiltArray a = ArrayBuilder::raid5(4, layout, 1).build(source);
        ASSERT_EQ(a.virtualBytes, 12 * 512);
        std::vector<std::vector<unsigned char>> m;
        for (auto& p : a.memberPaths) m.push_back(readFile(p));
        for (int row = 0; row < 4; ++row) {
            std::istringstream words(pictures[layout - 1][row]);
            for (int member = 0; member < 4; ++member) {
                std::string w;
                words >> w;
                unsigned char got = m[static_cast<size_t>(member)][static_cast<size_t>(row) * 512];
                unsigned char want = 0;
                if (w == "P") {
                    for (int k = 0; k < 3; ++k) want ^= static_cast<unsigned char>(row * 3 + k + 1);
                } else {
                    want = static_cast<unsigned char>(std::stoi(w.substr(1)) + 1);
                }
                EXPECT_EQ(got, want) << "row " << row << " member " << member << " " << w;
            }
        }
    }
}

TEST(ArrayBuilder, PlacesTheWorkedExampleSectors) {
    ArrayGeometry g;
    g.members = 3;
    g.level = 0;
    auto p = placeSector(g, 1000);
    EXPECT_EQ(p.member, 1u);
    EXPECT_EQ(p.memberSector, 360);
    g.level = 5;
    struct Case { int layout; int64_t sector; size_t member; int parity; int64_t memberSector; };
    for (Case c : {Case{1, 1000, 2, 0, 488}, {2, 1000, 1, 2, 488}, {3, 1000, 1, 2, 488},
                   {1, 700, 1, 2, 316}, {2, 700, 2, 0, 316}, {3, 700, 2, 0, 316}}) {
        g.layout = c.layout;
        p = placeSector(g, c.sector);
        EXPECT_EQ(p.member, c.member) << c.layout << " " << c.sector;
        EXPECT_EQ(p.parityMember, c.parity) << c.layout << " " << c.sector;
        EXPECT_EQ(p.memberSector, c.memberSector) << c.layout << " " << c.sector;
    }
    g.offsets = {0, 0, 2048};
    g.layout = 1;
    EXPECT_EQ(placeSector(g, 1000).memberSector, 488 + 2048);

    ArrayGeometry two;
    two.members = 2;
    EXPECT_EQ(placeSector(two, 127).member, 0u);
    EXPECT_EQ(placeSector(two, 128).member, 1u);
    EXPECT_EQ(placeSector(two, 128).memberSector, 0);
    EXPECT_EQ(placeSector(two, 256).member, 0u);
    EXPECT_EQ(placeSector(two, 256).memberSector, 128);
}

TEST(ArrayBuilder, MembersRoundTripThroughIndependentDestriping) {
    std::mt19937 rng(7);
    std::vector<unsigned char> source(3 * 1000 * 1000 + 123);
    for (auto& b : source) b = static_cast<unsigned char>(rng());

    struct Config { int level; int layout; size_t members; int64_t stripe; std::vector<int64_t> offsets; };
    const std::vector<Config> configs = {
        {0, 3, 2, 128, {}}, {0, 3, 3, 64, {0, 2048, 7}}, {5, 1, 3, 128, {}},
        {5, 2, 4, 16, {1, 2, 3, 4}}, {5, 3, 3, 128, {}}, {5, 3, 5, 8, {}},
    };
    for (const auto& c : configs) {
        SCOPED_TRACE(testing::Message() << "level " << c.level << " layout " << c.layout
                                        << " members " << c.members << " stripe " << c.stripe);
        ArrayGeometry g;
        g.level = c.level;
        g.layout = c.layout;
        g.members = c.members;
        g.stripeSectors = c.stripe;
        g.offsets = c.offsets;
        BuiltArray a = ArrayBuilder(g).headerFill(0xEE).build(source);

        const int64_t rowBytes = c.stripe * 512 * static_cast<int64_t>(g.dataUnitsPerRow());
        EXPECT_EQ(a.virtualBytes % rowBytes, 0);
        EXPECT_GE(a.virtualBytes, static_cast<int64_t>(source.size()));
        EXPECT_LT(a.virtualBytes - rowBytes, static_cast<int64_t>(source.size()));
        ASSERT_EQ(a.expected.size(), static_cast<size_t>(a.virtualBytes));
        EXPECT_TRUE(std::equal(source.begin(), source.end(), a.expected.begin()));
        EXPECT_TRUE(std::all_of(a.expected.begin() + static_cast<std::ptrdiff_t>(source.size()),
                                a.expected.end(), [](unsigned char b) { return b == 0; }));
        for (size_t i = 0; i < c.members; ++i) {
            auto bytes = readFile(a.memberPaths[i]);
            int64_t head = g.offset(i) * 512;
            ASSERT_EQ(static_cast<int64_t>(bytes.size()), head + a.memberDataSectors * 512);
            EXPECT_TRUE(std::all_of(bytes.begin(), bytes.begin() + head, [](unsigned char b) { return b == 0xEE; }));
        }
        EXPECT_EQ(destripe(a), a.expected);
        if (c.level == 5) {
            EXPECT_EQ(destripe(a, 1), a.expected) << "member 1 rebuilt from parity";
        }
    }
}

TEST(ArrayBuilder, RemovesItsFolderAndRefusesBadGeometry) {
    std::filesystem::path dir;
    {
        BuiltArray a = ArrayBuilder::raid0(2, 128).build(std::vector<unsigned char>(1000, 1));
        dir = a.dir;
        EXPECT_TRUE(std::filesystem::exists(a.memberPaths[1]));
        EXPECT_EQ(a.virtualBytes, 2 * 128 * 512);
        BuiltArray moved = std::move(a);
        EXPECT_TRUE(std::filesystem::exists(dir));
    }
    EXPECT_FALSE(std::filesystem::exists(dir));
    EXPECT_THROW(ArrayBuilder::raid5(2, 3, 128).build({}), std::invalid_argument);
    EXPECT_THROW(ArrayBuilder::raid5(3, 5, 128).build({}), std::invalid_argument);
    EXPECT_THROW(ArrayBuilder::raid0(2, 0).build({}), std::invalid_argument);
    EXPECT_THROW(ArrayBuilder::raid0(2, 128).offsets({0}).build({}), std::invalid_argument);
}

// The VHD footer and dynamic header (qemu-img's fixtures) and the dynamic-disk private
// header (the LDM fixtures), whole, damaged and cut.

#include <gtest/gtest.h>

#include <fstream>
#include <tuple>

#include "disk/LdmPrivateHeader.h"
#include "disk/VhdDynamicHeader.h"
#include "disk/VhdFooter.h"

using namespace quenlow::disk;

namespace {

const std::string kDir = QUENLOW_FIXTURE_DIR;

std::vector<uint8_t> bytesAt(const std::string& path, int64_t at, size_t count) {
    std::vector<uint8_t> b(count);
    std::ifstream in(kDir + path, std::ios::binary);
    in.seekg(at, at < 0 ? std::ios::end : std::ios::beg);
    in.read(reinterpret_cast<char*>(b.data()), static_cast<std::streamsize>(count));
    EXPECT_TRUE(in.good()) << path;
    return b;
}

}  // namespace

TEST(VhdLayout, FooterAndDynamicHeaderOfQemuImages) {
    // The dynamic disk's copy at the start and footer at the end, the fixed disk's footer.
    const std::tuple<std::string, int64_t, uint32_t> footers[] = {
        {"/vhd/member0.vhd", 0, VhdFooter::kDynamic}, {"/vhd/member0.vhd", -512, VhdFooter::kDynamic},
        {"/vhd/member1-fixed.vhd", -512, VhdFooter::kFixed}};
    for (const auto& [path, at, type] : footers) {
        const auto f = VhdFooter::parse(bytesAt(path, at, 512));
        EXPECT_EQ(std::tuple(f.valid(), f.diskType, f.currentSize), std::tuple(true, type, uint64_t{8} << 20)) << path << at;
    }
    const auto h = VhdDynamicHeader::parse(bytesAt("/vhd/member0.vhd", 512, 1024));
    EXPECT_EQ(std::tuple(h.cookie, h.tableOffset, h.maxTableEntries, h.blockSize), std::tuple(true, uint64_t{1536}, 4u, 2u << 20));

    // Any changed byte breaks the checksum; a short buffer is no footer; a raw image has none.
    const auto bytes = bytesAt("/vhd/member0.vhd", 0, 512);
    for (size_t at : {size_t{0}, size_t{48}, size_t{64}, size_t{511}}) {
        auto damaged = bytes;
        damaged[at] ^= 0x01;
        EXPECT_FALSE(VhdFooter::parse(damaged).valid()) << at;
    }
    EXPECT_FALSE(VhdFooter::parse(std::span<const uint8_t>(bytes).first(511)).cookie);
    EXPECT_FALSE(VhdFooter::parse(bytesAt("/vhd/member0.img", -512, 512)).valid());
}

TEST(LdmLayout, PrivateHeaderOfTheFixtureMembers) {
    const std::pair<std::string, uint64_t> cases[] = {{"start1985", 1985}, {"start2048", 2048}};
    for (const auto& [variant, start] : cases) {
        const auto sector = bytesAt("/ldm/" + variant + "/member1.img", 6 * 512, 512);
        const auto h = LdmPrivateHeader::parse(sector);
        const auto cut = LdmPrivateHeader::parse(std::span<const uint8_t>(sector).first(0x125));  // inside the size
        EXPECT_EQ(std::tuple(h.magic, h.logicalStart, h.logicalSize, cut.logicalStart, cut.logicalSize),
                  std::tuple(true, start, uint64_t{4096}, start, uint64_t{0}));
    }
}

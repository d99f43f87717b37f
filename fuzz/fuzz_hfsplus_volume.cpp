// A small HFS+ volume (512-byte blocks and nodes) whose volume header, extents-overflow
// file and catalog are changed by the input, XORed over them: both modes' parse, the texts
// of every entry and saving every file must survive them, and every walk must end.
#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <string>
#include <unistd.h>

#include "filesystems/MemoryTree.h"
#include "filesystems/hfsplus/HFSP.h"
#include "hfsplus/support/HfsImage.h"
#include "support/MemoryDisk.h"
#include "fuzz/FuzzHarness.h"
#include "support/ParserHarness.h"

using namespace quenlow;
using test::HfsImage;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    // Header at block 2, extents file at blocks 4-5, catalog (header, an index node and
    // three leaves) at blocks 8-12, file data from block 16.
    static const std::vector<uint8_t> base = [] {
        HfsImage img(512, 64);
        std::vector<HfsImage::Extent> frag;
        for (uint32_t i = 0; i < 10; ++i) frag.push_back({16 + 2 * i, 1});
        img.tree(192, {HfsImage::header(512, 2), HfsImage::leaf(512, {HfsImage::overflow(0, 20, 8, {frag[8], frag[9]}),
                                                                       HfsImage::overflow(0xFF, 20, 8, {{40, 1}})})},
                 {{4, 2}});
        HfsImage::Bytes index = HfsImage::leaf(512, {});
        index[8] = 0, index[9] = 2;
        img.tree(272, {HfsImage::header(512, 5), index,
                       HfsImage::leaf(512, {HfsImage::folder(1, u"Vol", 2), HfsImage::folder(2, u"docs", 16)}),
                       HfsImage::leaf(512, {HfsImage::file(16, u"frag.bin", 20, 5000, frag)}),
                       HfsImage::leaf(512, {HfsImage::file(2, u"a.txt", 21, 700, {{36, 2}})})},
                 {{8, 5}});
        img.fill(16, 30, 7);
        return img.bytes;
    }();
    if (size == 0) return 0;
    std::vector<uint8_t> bytes = base;
    const uint8_t flags = data[0];
    ++data, --size;
    if ((flags & 1) != 0 && size >= 352) {  // the volume header up to the catalog's fork data
        for (size_t i = 0; i < 352; ++i) bytes[1024 + i] ^= data[i];
        data += 352, size -= 352;
    }
    for (size_t i = 0; i < size && 4 * 512 + i < bytes.size(); ++i) bytes[4 * 512 + i] ^= data[i];
    test::MemoryDisk disk(std::move(bytes));
    fs::MemoryTree tree;
    volumes::VolumeRecord volume{"HFS+", "0", "1   MB", 0};
    fs::HFSP parser(test::setupOn(disk, volume, tree));
    test::parseIn(parser, silentFeedback(), (flags & 2) != 0 ? fs::Mode::Deep : fs::Mode::Standard);
    const size_t n = parser.catalog().size();
    std::vector<fs::EntryRef> all;
    for (const fs::HfsCatalogEntry& e : parser.catalog().entries()) all.push_back(e.id);
    fuzz::exerciseEntries(parser, all);
    fuzz::walkMustEnd(parser, 2 * n + 2);
    return 0;
}

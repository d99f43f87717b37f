// A small exFAT volume whose FAT and first clusters are changed by the input, XORed over
// them (and, when the first byte says so, the boot sector's fields as well): the whole parse, the texts of every
// record and saving every file must survive them, and every walk must end. The first byte
// also chooses advanced mode (a candidate search, a choice, the scan) and a wiped boot sector.
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <filesystem>
#include <string>
#include <unistd.h>

#include "disk/RecoveryContext.h"
#include "exfat/support/ExFatImage.h"
#include "filesystems/MemoryTree.h"
#include "filesystems/exfat/Fat64Class.h"
#include "support/MemoryDisk.h"
#include "fuzz/FuzzHarness.h"
#include "support/ParserHarness.h"

using namespace quenlow;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    static const std::vector<uint8_t> base = [] {
        test::ExFatImage img;
        size_t at = img.set(img.clusterAt(2), {u"folder", 0x10, false, false, 3, 1024});
        at = img.set(at, {u"file.txt", 0x20, false, true, 6, 1000});
        img.set(at, {u"chained.bin", 0x20, true, false, 8, 1500});
        img.chain({3, 5});
        img.chain({8, 9, 7});
        img.set(img.clusterAt(3), {u"inner.txt", 0x20, false, true, 10, 300});
        for (uint32_t c = 6; c < 12; ++c) img.fill(c, 512, static_cast<uint8_t>(c));
        img.fat(0, 0xFFFFFFF8), img.fat(1, 0xFFFFFFFF);  // what the advanced search looks for
        return img.bytes;
    }();
    if (size == 0) return 0;
    std::vector<uint8_t> bytes = base;
    const uint8_t flags = data[0];
    ++data, --size;
    if ((flags & 1) != 0 && size >= 56) {  // the boot sector's fields from offset 64 to 120
        for (size_t i = 0; i < 56; ++i) bytes[64 + i] ^= data[i];
        data += 56, size -= 56;
    }
    for (size_t i = 0; i < size && 16 * 512 + i < bytes.size(); ++i) bytes[16 * 512 + i] ^= data[i];
    test::MemoryDisk disk(std::move(bytes));
    fs::MemoryTree tree;
    volumes::VolumeRecord volume;
    disk::RecoveryContext context;
    context.driveFormatted = (flags & 2) != 0;
    fs::ParserSetup setup = test::setupOn(disk, volume, tree);
    setup.context = &context;
    fs::Fat64Class parser(setup);
    if ((flags & 4) != 0) {  // advanced mode: the candidate in bits 4-5, the cluster shift 0, 6, 12 or 18 in 6-7
        if ((flags & 8) != 0) std::memset(disk.data.data(), 0, 512);
        WorkControl control;
        if (!parser.findCandidates(control, silentFeedback(), 3)) return 0;
        const int shift = (flags >> 6) * 6;
        std::string error;
        if (!parser.chooseCandidate({static_cast<size_t>((flags >> 4) & 3), int64_t{1} << shift, {}}, error)) return 0;
        test::parseIn(parser, silentFeedback(), fs::Mode::Advanced);
    } else {
        test::parseIn(parser);
    }
    const size_t n = parser.records().size();
    std::vector<fs::EntryRef> all;
    for (size_t i = 0; i < n; ++i) all.push_back(fs::Fat64Class::refOf(static_cast<uint32_t>(i)));
    fuzz::exerciseEntries(parser, all);
    fuzz::walkMustEnd(parser, 2 * n + 2);
    return 0;
}

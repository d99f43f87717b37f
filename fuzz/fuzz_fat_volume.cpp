// A small FAT16 or FAT32 volume whose boot-sector fields, FAT and first clusters are the
// input: the whole parse, the texts of every entry and reading every file's data must
// survive them, in standard mode and in advanced mode (the FAT search, the first candidate
// with a cluster size the input picks, the entry scan).
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <vector>

#include "fat/support/FatImage.h"
#include "filesystems/MemoryTree.h"
#include "filesystems/fat/Fat16Class.h"
#include "filesystems/fat/Fat32Class.h"
#include "support/MemoryDisk.h"
#include "fuzz/FuzzHarness.h"
#include "support/ParserHarness.h"

using namespace quenlow;

namespace {

// The texts and data of every entry, and every walk from the first level ends.
void check(fs::FatVolumeParser& parser) {
    std::vector<uint8_t> buffer(1 << 16);
    for (size_t i = 0; i < parser.records().size(); ++i) {
        fs::EntryRef ref = fs::FatVolumeParser::refOf(i);
        parser.entryTexts(ref);
        parser.sizeText(ref);
        parser.times(ref);
        fs::Result<fs::EntryData> d = parser.openData(ref, silentFeedback());
        if (!d) continue;
        // Extents and the first and last pieces: the whole of a 4 GiB file would be too slow.
        for (uint64_t at = 0; at < d->stream->size();) {
            fs::DataStream::Extent x = d->stream->extentAt(at);
            if (x.length == 0) __builtin_trap();
            at += x.length;
        }
        d->stream->read(0, buffer.data(), buffer.size());
        if (d->stream->size() > buffer.size()) d->stream->read(d->stream->size() - buffer.size(), buffer.data(), buffer.size());
    }
    fuzz::walkMustEnd(parser, 3 * parser.records().size() + 3);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size < 1) return 0;
    const int bits = (data[0] & 1) ? 32 : 16;
    static const test::FatImage base32(32, 2000), base16(16, 5000, 32);
    const test::FatImage& base = bits == 32 ? base32 : base16;
    std::vector<uint8_t> bytes = base.bytes;
    ++data, --size;
    // The boot sector's fields (bytes 11-74), then the FAT's first sector, then the root
    // (FAT16: its region; FAT32: cluster 2) and the clusters after it.
    size_t n = std::min<size_t>(size, 64);
    std::memcpy(bytes.data() + 11, data, n);
    data += n, size -= n;
    n = std::min<size_t>(size, 512);
    std::memcpy(bytes.data() + base.fatOffset, data, n);
    data += n, size -= n;
    const uint64_t root = bits == 32 ? base.dataOffset : base.rootOffset;
    n = std::min<size_t>(size, bytes.size() - root);
    std::memcpy(bytes.data() + root, data, n);

    const int64_t sectors = int64_t{1} << (size > 0 ? data[0] % 8 : 0);
    test::MemoryDisk disk(std::move(bytes));
    for (bool advanced : {false, true}) {
        fs::MemoryTree tree;
        volumes::VolumeRecord volume;
        volume.volumeSizeText = "1 MB";
        fs::ParserSetup setup = test::setupOn(disk, volume, tree);
        std::unique_ptr<fs::FatVolumeParser> parser;
        if (bits == 32) parser = std::make_unique<fs::Fat32Class>(setup);
        else parser = std::make_unique<fs::Fat16Class>(setup);
        if (!advanced) {
            test::parseIn(*parser);
        } else {
            WorkControl control;
            fs::Result<fs::CandidateSearch> found = parser->findCandidates(control, silentFeedback(), 3);
            std::string error;
            fs::CandidateChoice choice;
            choice.sectorsPerCluster = sectors;
            if (!found || !parser->chooseCandidate(choice, error)) continue;
            test::parseIn(*parser, silentFeedback(), fs::Mode::Advanced);
        }
        check(*parser);
    }
    return 0;
}


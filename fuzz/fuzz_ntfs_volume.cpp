// A small NTFS volume whose MFT records 16 and up are the input: the whole parse in each
// mode (standard; advanced from the first $MFT found; deep), the texts of every entry and
// saving every file must survive them.
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <filesystem>
#include <string>
#include <unistd.h>

#include "fuzz/FuzzHarness.h"
#include "support/ParserHarness.h"
#include "filesystems/MemoryTree.h"
#include "filesystems/ntfs/ntfs.h"
#include "ntfs/support/NtfsImage.h"
#include "support/MemoryDisk.h"

using namespace quenlow;

namespace {

// The texts and data of every entry, and every walk from the first level ends.
void exercise(fs::ntfs& parser) {
    std::vector<fs::EntryRef> all;
    for (size_t i = 0; i < parser.entries().size(); ++i) all.push_back(fs::ntfs::refOf(static_cast<int64_t>(i)));
    fuzz::exerciseEntries(parser, all, INT64_MAX);
    fuzz::walkMustEnd(parser, 3 * parser.entries().size() + 3);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    static const std::vector<uint8_t> base = [] {
        test::NtfsImage img(4096, 32, 64);
        // The table's first records, so that the advanced search finds it by its $Boot.
        const char16_t* names[] = {u"$MFTMirr", u"$LogFile", u"$Volume", u"$AttrDef", u"", u"$Bitmap", u"$Boot"};
        for (uint64_t k : {1, 2, 3, 4, 6, 7}) img.setRecord(k, test::RecordBuilder(1).fileName(5, names[k - 1]));
        std::vector<uint8_t> data(4096);
        for (size_t i = 0; i < data.size(); ++i) data[i] = static_cast<uint8_t>(i * 31);
        for (uint64_t c = img.firstFreeCluster(); c < 64; ++c) img.writeCluster(c, data);
        return img.bytes;
    }();
    std::vector<uint8_t> bytes = base;
    size_t at = 4 * 4096 + 16 * 1024;
    std::memcpy(bytes.data() + at, data, std::min<size_t>(size, 16 * 1024));
    for (fs::Mode mode : {fs::Mode::Standard, fs::Mode::Advanced, fs::Mode::Deep}) {
        test::MemoryDisk disk(bytes);
        fs::MemoryTree tree;
        volumes::VolumeRecord volume;
        volume.volumeSizeText = "1 MB";
        fs::ntfs parser(test::setupOn(disk, volume, tree));
        if (mode == fs::Mode::Advanced) {
            WorkControl control;
            fs::Result<fs::CandidateSearch> found = parser.findCandidates(control, silentFeedback(), 3);
            std::string error;
            if (!found || !parser.chooseCandidate(fs::CandidateChoice{0, 8, {}}, error)) continue;
        }
        test::parseIn(parser, silentFeedback(), mode);
        exercise(parser);
    }
    return 0;
}

// A small NTFS volume whose MFT records 16 and up are the input: the whole parse, the
// texts of every entry and saving every file must survive them.
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <filesystem>
#include <string>
#include <unistd.h>

#include "support/ParserHarness.h"
#include "filesystems/MemoryTree.h"
#include "filesystems/ntfs/ntfs.h"
#include "ntfs/support/NtfsImage.h"
#include "support/MemoryDisk.h"

using namespace quenlow;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    static const std::vector<uint8_t> base = [] {
        test::NtfsImage img(4096, 32, 64);
        std::vector<uint8_t> data(4096);
        for (size_t i = 0; i < data.size(); ++i) data[i] = static_cast<uint8_t>(i * 31);
        for (uint64_t c = img.firstFreeCluster(); c < 64; ++c) img.writeCluster(c, data);
        return img.bytes;
    }();
    static const std::string dir = [] {
        std::string d = std::filesystem::temp_directory_path() / ("quenlow-fuzz-" + std::to_string(::getpid()));
        std::filesystem::create_directories(d);
        return d;
    }();
    std::vector<uint8_t> bytes = base;
    size_t at = 4 * 4096 + 16 * 1024;
    std::memcpy(bytes.data() + at, data, std::min<size_t>(size, 16 * 1024));
    test::MemoryDisk disk(std::move(bytes));
    fs::MemoryTree tree;
    volumes::VolumeRecord volume;
    volume.volumeSizeText = "1 MB";
    fs::ntfs parser(test::setupOn(disk, volume, tree));
    test::parseIn(parser);
    for (size_t i = 0; i < parser.entries().size(); ++i) {
        fs::EntryRef ref = fs::ntfs::refOf(static_cast<int64_t>(i));
        parser.entryTexts(ref);
        parser.sizeText(ref);
        std::string out = dir + "/f";
        std::string error;
        test::saveEntryTo(parser, ref, out, error);
        std::filesystem::remove(out);
    }
    // Every walk from the first level ends.
    size_t visited = 0;
    std::vector<fs::EntryRef> stack = parser.firstLevel();
    while (!stack.empty()) {
        fs::EntryRef f = stack.back();
        stack.pop_back();
        if (++visited > 3 * parser.entries().size() + 3) __builtin_trap();
        for (fs::EntryRef c = parser.firstChild(f); c != fs::kNoEntry; c = parser.nextSibling(c)) {
            if (++visited > 3 * parser.entries().size() + 3) __builtin_trap();
            if (parser.isFolder(c)) stack.push_back(c);
        }
    }
    return 0;
}

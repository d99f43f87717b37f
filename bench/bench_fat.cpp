// FAT32 and FAT16 advanced mode against a dump of the same volume in one run, page cache
// hot: the FAT search (findCandidates over the whole volume) and the entry scan with its
// assembly (parse in advanced mode) must each reach 0.7 of the dump's throughput. The
// volume is pseudo-random bytes with two FAT starts and one directory entry (a long name
// and its short entry) every 64 KiB; it is written to a temporary folder and removed. The
// dump reads the volume in 4 MiB pieces and writes them to /dev/null, as `quenlow dump`.
//
//   bench_fat [--dir DIR] [--total-mib N] [--runs N] [--bits 16|32]

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <filesystem>
#include <fstream>
#include <string>
#include <unistd.h>
#include <vector>

#include "disk/FileReadSeek.h"
#include "fat/support/FatImage.h"
#include "filesystems/MemoryTree.h"
#include "filesystems/fat/Fat16Class.h"
#include "filesystems/fat/Fat32Class.h"
#include "support/ParserHarness.h"

using namespace quenlow;

namespace {

constexpr uint64_t kEntryEvery = 64 * 1024;
constexpr uint64_t kFirstEntry = 4 << 20;

double since(std::chrono::steady_clock::time_point t) {
    return std::chrono::duration<double>(std::chrono::steady_clock::now() - t).count();
}

void writeVolume(const std::string& path, uint64_t bytes, int bits) {
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    std::vector<uint8_t> block(1 << 20);
    uint64_t x = 0x2545F4914F6CDD1Dull;
    uint8_t named[96] = {};
    int pieces = test::FatImage::longName(named, u"Quarterly.txt");
    test::FatImage::entry(named + 32 * pieces, "QUARTE~1TXT", 0x20, 5, 1000);
    named[32 * pieces + 13] = 9;
    const char* fat = bits == 32 ? "\xF8\xFF\xFF\x0F\xFF\xFF\xFF\x0F" : "\xF8\xFF\xFF\xFF";
    for (uint64_t done = 0; done < bytes; done += block.size()) {
        for (size_t i = 0; i + 8 <= block.size(); i += 8) {
            x ^= x >> 12, x ^= x << 25, x ^= x >> 27;
            uint64_t v = x * 0x2545F4914F6CDD1Dull;
            std::memcpy(block.data() + i, &v, 8);
        }
        if (done == 1 << 20) {
            std::memcpy(block.data(), fat, std::strlen(fat) == 4 ? 4 : 8);
            std::memcpy(block.data() + 512 * 1024, fat, std::strlen(fat) == 4 ? 4 : 8);
        }
        for (uint64_t at = std::max(done, kFirstEntry); at < done + block.size(); at += kEntryEvery)
            std::memcpy(block.data() + (at - done), named, 32 * (pieces + 1));
        out.write(reinterpret_cast<const char*>(block.data()), static_cast<std::streamsize>(block.size()));
    }
    if (!out) std::exit(2);
}

double dump(disk::VolumeView view, uint64_t bytes, int devNull) {
    std::vector<uint8_t> piece(4 << 20);
    auto start = std::chrono::steady_clock::now();
    for (uint64_t at = 0; at < bytes; at += piece.size()) {
        view.readQuiet(static_cast<int64_t>(at), piece.data(), piece.size());
        if (::write(devNull, piece.data(), piece.size()) != static_cast<ssize_t>(piece.size())) std::exit(2);
    }
    return static_cast<double>(bytes) / since(start);
}

}  // namespace

int main(int argc, char** argv) {
    std::string dir;
    uint64_t mib = 1024;
    int runs = 3, bits = 32;
    for (int i = 1; i + 1 < argc; i += 2) {
        std::string key = argv[i], value = argv[i + 1];
        if (key == "--dir") dir = value;
        else if (key == "--total-mib") mib = std::max<uint64_t>(std::stoull(value), 8);
        else if (key == "--runs") runs = std::stoi(value);
        else if (key == "--bits") bits = std::stoi(value) == 16 ? 16 : 32;
        else return std::fprintf(stderr, "bench_fat: unknown option %s\n", key.c_str()), 2;
    }
    const bool own = dir.empty();
    if (own) {
        char tmpl[] = "/tmp/quenlow-bench-XXXXXX";
        if (mkdtemp(tmpl) == nullptr) return 2;
        dir = tmpl;
    }
    const std::string path = dir + "/fat.img";
    const uint64_t bytes = mib << 20;
    writeVolume(path, bytes, bits);
    disk::FileReadSeek reader;
    if (!reader.open(path)) return 2;
    int devNull = ::open("/dev/null", O_WRONLY | O_CLOEXEC);
    dump(disk::VolumeView(reader, 0), bytes, devNull);  // the page cache warm
    double dumped = 0, searched = 0, scanned = 0;
    size_t fats = 0, records = 0;
    for (int r = 0; r < runs; ++r) {
        dumped = std::max(dumped, dump(disk::VolumeView(reader, 0), bytes, devNull));
        volumes::VolumeRecord volume;
        volume.volumeSizeText = std::to_string(mib) + " MB";
        fs::MemoryTree tree;
        fs::ParserSetup setup = test::setupOn(reader, volume, tree);
        std::unique_ptr<fs::FatVolumeParser> parser;
        if (bits == 32) parser = std::make_unique<fs::Fat32Class>(setup);
        else parser = std::make_unique<fs::Fat16Class>(setup);
        WorkControl control;
        auto start = std::chrono::steady_clock::now();
        fs::Result<fs::CandidateSearch> found = parser->findCandidates(control, silentFeedback(), 3);
        searched = std::max(searched, static_cast<double>(bytes) / since(start));
        std::string error;
        fs::CandidateChoice choice;
        choice.sectorsPerCluster = 8;
        if (!found || !parser->chooseCandidate(choice, error)) return std::fprintf(stderr, "bench_fat: %s\n", error.c_str()), 2;
        fats = found->entries.size();
        start = std::chrono::steady_clock::now();
        test::parseIn(*parser, silentFeedback(), fs::Mode::Advanced);
        scanned = std::max(scanned, static_cast<double>(bytes) / since(start));
        records = parser->records().size();
    }
    const size_t planted = static_cast<size_t>((bytes - kFirstEntry) / kEntryEvery);
    const bool ok = searched / dumped >= 0.7 && scanned / dumped >= 0.7 && fats == 2 && records >= planted + 2;
    std::printf("FAT%d advanced, %llu MiB: dump %6.0f MB/s  search %6.0f MB/s (ratio %.2f)  scan+assemble %6.0f MB/s "
                "(ratio %.2f)  fats %zu records %zu (planted %zu)\n",
                bits, static_cast<unsigned long long>(mib), dumped / 1e6, searched / 1e6, searched / dumped,
                scanned / 1e6, scanned / dumped, fats, records, planted);
    if (!ok) std::printf("BELOW TARGET OR WRONG COUNTS\n");
    std::filesystem::remove(path);
    if (own) std::filesystem::remove_all(dir);
    return ok ? 0 : 1;
}

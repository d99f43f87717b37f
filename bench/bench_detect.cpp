// detect on a three-member RAID-5 of 3 x 4 GiB sparse member files (layout 3, stripe 128)
// holding a real NTFS volume at the start of the virtual disk, striped here sector by
// sector. Prints the time of each run and what was proposed.
//
//   bench_detect IMAGE [--dir DIR] [--member-gib N] [--runs N]

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "detect/ArrayDetect.h"
#include "disk/FileReadSeekRaid.h"

int main(int argc, char** argv) {
    if (argc < 2) {
        std::fprintf(stderr, "usage: bench_detect IMAGE [--dir DIR] [--member-gib N] [--runs N]\n");
        return 2;
    }
    std::string dir = std::filesystem::temp_directory_path().string();
    int64_t memberGiB = 4;
    int runs = 3;
    for (int i = 2; i + 1 < argc; i += 2) {
        if (!std::strcmp(argv[i], "--dir")) dir = argv[i + 1];
        if (!std::strcmp(argv[i], "--member-gib")) memberGiB = std::atoll(argv[i + 1]);
        if (!std::strcmp(argv[i], "--runs")) runs = std::atoi(argv[i + 1]);
    }
    std::ifstream in(argv[1], std::ios::binary);
    std::vector<char> image((std::istreambuf_iterator<char>(in)), {});
    const int n = 3;
    const int64_t stripe = 128;
    const auto folder = std::filesystem::path(dir) / "quenlow-bench-detect";
    std::filesystem::create_directories(folder);
    std::vector<std::string> paths;
    std::vector<std::fstream> files;
    for (int m = 0; m < n; ++m) {
        paths.push_back((folder / ("member" + std::to_string(m) + ".img")).string());
        std::ofstream(paths.back(), std::ios::binary | std::ios::trunc).close();
        std::filesystem::resize_file(paths.back(), static_cast<uintmax_t>(memberGiB) << 30);
        files.emplace_back(paths.back(), std::ios::binary | std::ios::in | std::ios::out);
    }
    // Data sectors, then each row's parity from the data just written.
    const int64_t sectors = static_cast<int64_t>(image.size() / 512);
    std::vector<std::vector<char>> parity;
    for (int64_t l = 0; l < sectors; ++l) {
        const auto loc = quenlow::disk::FileReadSeekRaid::locate(5, 3, n, stripe, l);
        files[static_cast<size_t>(loc.member)].seekp(loc.memberSector * 512);
        files[static_cast<size_t>(loc.member)].write(image.data() + l * 512, 512);
        const size_t at = static_cast<size_t>(loc.memberSector);
        if (parity.size() <= at) parity.resize(at + 1, std::vector<char>(512, 0));
        for (int b = 0; b < 512; ++b) parity[at][static_cast<size_t>(b)] ^= image[static_cast<size_t>(l * 512 + b)];
    }
    for (size_t s = 0; s < parity.size(); ++s) {
        const auto loc = quenlow::disk::FileReadSeekRaid::locate(5, 3, n, stripe, static_cast<int64_t>(s / stripe * (n - 1) * stripe + s % stripe));
        files[static_cast<size_t>(loc.parityMember)].seekp(static_cast<int64_t>(s) * 512);
        files[static_cast<size_t>(loc.parityMember)].write(parity[s].data(), 512);
    }
    files.clear();
    const std::vector<std::string> shuffled = {paths[2], paths[0], paths[1]};
    for (int r = 0; r < runs; ++r) {
        const auto start = std::chrono::steady_clock::now();
        const auto report = quenlow::detect::detectArray(shuffled, {});
        const double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
        std::printf("detect 3 x %lld GiB RAID-5: %.3f s, %lld bytes read: %s\n", static_cast<long long>(memberGiB),
                    seconds, static_cast<long long>(report.bytesRead),
                    report.decided ? quenlow::detect::commandLine(report.candidates.front(), report.members, false).c_str()
                                   : report.verdict.c_str());
    }
    std::filesystem::remove_all(folder);
    return 0;
}

// Sector-scan throughput against a dump of the same virtual disk, page cache hot: RAID-0 of
// two images and RAID-5 of three, at least 1 GiB of virtual disk. In-process the dump is
// the virtual disk read front to back in 1 MiB reads written to /dev/null; with --cli the
// `quenlow dump` and `quenlow volumes --scan` commands are timed as well. The scan must reach
// 0.7 of the dump's throughput. Member files are created in a temporary folder and removed.
//
//   bench_scan [--dir DIR] [--total-mib N] [--stripe SECTORS] [--runs N] [--cli PATH]
//              [--read-ahead-mib N]

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

#include "disk/FileReadSeekRaid.h"
#include "volumes/Partition.h"

namespace {

using Clock = std::chrono::steady_clock;
using quenlow::disk::FileReadSeekRaid;

struct Options {
    std::string dir;
    uint64_t totalMiB = 2048;
    int64_t stripe = 128;
    int runs = 5;
    std::string cli;
    uint32_t readAheadMiB = 0;  // 0: the finder's default
};

void writeMember(const std::string& path, uint64_t bytes, uint64_t seed) {
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    std::vector<unsigned char> block(1 << 20);
    uint64_t x = seed * 0x9E3779B97F4A7C15ull + 1;
    for (uint64_t done = 0; done < bytes; done += block.size()) {
        for (size_t i = 0; i + 8 <= block.size(); i += 8) {
            x ^= x << 13;
            x ^= x >> 7;
            x ^= x << 17;
            std::memcpy(block.data() + i, &x, 8);
        }
        out.write(reinterpret_cast<const char*>(block.data()),
                  static_cast<std::streamsize>(std::min<uint64_t>(block.size(), bytes - done)));
    }
    if (!out) {
        std::fprintf(stderr, "bench_scan: cannot write %s\n", path.c_str());
        std::exit(2);
    }
}

double seconds(Clock::time_point start) { return std::chrono::duration<double>(Clock::now() - start).count(); }

double dumpPass(FileReadSeekRaid& raid, int devNull) {
    std::vector<unsigned char> buf(1 << 20);
    const uint64_t total = raid.totalSectors() * 512;
    auto start = Clock::now();
    raid.seek(0, 0);
    for (uint64_t done = 0; done < total;) {
        auto n = static_cast<uint32_t>(std::min<uint64_t>(buf.size(), total - done));
        if (!raid.read(buf.data(), n) || ::write(devNull, buf.data(), n) != static_cast<ssize_t>(n)) std::exit(2);
        done += n;
    }
    return static_cast<double>(total) / seconds(start);
}

double scanPass(FileReadSeekRaid& raid, size_t* found, uint32_t readAheadMiB) {
    std::vector<quenlow::volumes::VolumeRecord> volumes;
    quenlow::volumes::Partition finder(raid, volumes);
    if (readAheadMiB > 0) finder.readAheadSectors = readAheadMiB * quenlow::volumes::Partition::kChunkSectors;
    finder.totalSectors = raid.totalSectors();
    auto start = Clock::now();
    finder.scanVolumes();
    *found = volumes.size();
    return static_cast<double>(raid.totalSectors() * 512) / seconds(start);
}

double commandPass(const std::string& command, uint64_t bytes) {
    auto start = Clock::now();
    if (std::system(command.c_str()) != 0) {
        std::fprintf(stderr, "bench_scan: failed: %s\n", command.c_str());
        std::exit(2);
    }
    return static_cast<double>(bytes) / seconds(start);
}

struct Scenario {
    const char* name;
    int level;
    int members;
};

bool run(const Options& opt, const Scenario& s, int devNull) {
    namespace fs = std::filesystem;
    const int dataMembers = s.level == 0 ? s.members : s.members - 1;
    const uint64_t unit = static_cast<uint64_t>(opt.stripe) * 512;
    const uint64_t memberBytes = (opt.totalMiB << 20) / dataMembers / unit * unit;
    FileReadSeekRaid raid;
    std::string arrayArgs;
    for (int m = 0; m < s.members; ++m) {
        std::string path = (fs::path(opt.dir) / (std::string(s.name) + "-" + std::to_string(m) + ".img")).string();
        writeMember(path, memberBytes, static_cast<uint64_t>(m) + 7);
        raid.memberNames.push_back(path);
        arrayArgs += " -m '" + path + "'";
    }
    raid.level = s.level;
    raid.parityLayout = 3;
    raid.stripeSectors = opt.stripe;
    if (!raid.open()) {
        std::fprintf(stderr, "bench_scan: %s: %s\n", s.name, raid.lastError().c_str());
        std::exit(2);
    }
    arrayArgs += " -l " + std::to_string(s.level) + " -s " + std::to_string(opt.stripe);
    if (s.level == 5) arrayArgs += " --layout 3";
    const uint64_t bytes = raid.totalSectors() * 512;

    dumpPass(raid, devNull);  // warm the page cache
    double dump = 0, scan = 0, cliDump = 0, cliScan = 0;
    size_t found = 0;
    for (int r = 0; r < opt.runs; ++r) {
        dump = std::max(dump, dumpPass(raid, devNull));
        scan = std::max(scan, scanPass(raid, &found, opt.readAheadMiB));
        if (!opt.cli.empty()) {
            cliDump = std::max(cliDump, commandPass("'" + opt.cli + "'" + arrayArgs + " dump > /dev/null", bytes));
            cliScan = std::max(cliScan, commandPass("'" + opt.cli + "'" + arrayArgs + " volumes --scan > /dev/null", bytes));
        }
    }
    double ratio = scan / dump;
    bool ok = ratio >= 0.7 && found == 0;
    std::printf("%-8s %5llu MiB  dump %6.0f MB/s  scan %6.0f MB/s  ratio %.2f (target 0.70)%s\n", s.name,
                static_cast<unsigned long long>(bytes >> 20), dump / 1e6, scan / 1e6, ratio,
                ok ? "" : (found ? "  FALSE VOLUMES FOUND" : "  BELOW TARGET"));
    if (!opt.cli.empty()) {
        double cliRatio = cliScan / cliDump;
        ok = ok && cliRatio >= 0.7;
        std::printf("%-8s %5s      quenlow dump %6.0f MB/s  quenlow volumes --scan %6.0f MB/s  ratio %.2f%s\n", "",
                    "", cliDump / 1e6, cliScan / 1e6, cliRatio, cliRatio >= 0.7 ? "" : "  BELOW TARGET");
    }
    std::fflush(stdout);
    for (const auto& p : raid.memberNames) fs::remove(p);
    return ok;
}

}  // namespace

int main(int argc, char** argv) {
    Options opt;
    for (int i = 1; i + 1 < argc; i += 2) {
        std::string key = argv[i];
        std::string value = argv[i + 1];
        if (key == "--dir") opt.dir = value;
        else if (key == "--total-mib") opt.totalMiB = std::stoull(value);
        else if (key == "--stripe") opt.stripe = std::stoll(value);
        else if (key == "--runs") opt.runs = std::stoi(value);
        else if (key == "--cli") opt.cli = value;
        else if (key == "--read-ahead-mib") opt.readAheadMiB = static_cast<uint32_t>(std::stoul(value));
        else {
            std::fprintf(stderr, "bench_scan: unknown option %s\n", key.c_str());
            return 2;
        }
    }
    namespace fs = std::filesystem;
    bool own = opt.dir.empty();
    if (own) {
        char tmpl[] = "/tmp/quenlow-bench-XXXXXX";
        if (mkdtemp(tmpl) == nullptr) return 2;
        opt.dir = tmpl;
    }
    int devNull = ::open("/dev/null", O_WRONLY | O_CLOEXEC);
    std::printf("sector scan against dump, %llu MiB virtual disk, stripe %lld sectors\n",
                static_cast<unsigned long long>(opt.totalMiB), static_cast<long long>(opt.stripe));
    const Scenario scenarios[] = {{"raid0-2", 0, 2}, {"raid5-3", 5, 3}};
    bool all = true;
    for (const auto& s : scenarios) all = run(opt, s, devNull) && all;
    if (own) fs::remove_all(opt.dir);
    return all ? 0 : 1;
}

// Read throughput of the RAID virtual disk against plain sequential reads of the same member
// files, page cache hot: RAID-0 of two images, healthy and degraded RAID-5 of three, RAID-0
// of two dynamic VHD files. The member files are created in a temporary folder and removed.
//
//   bench_read [--dir DIR] [--total-mib N] [--read-kib N] [--stripe SECTORS] [--runs N]
//              [--only SCENARIO]

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "disk/FileReadSeekRaid.h"
#include "disk/support/VhdBuilder.h"
#include "platform/ReadOnlyFile.h"

namespace {

using Clock = std::chrono::steady_clock;
using quenlow::disk::FileReadSeekRaid;

struct Options {
    std::string dir;
    uint64_t totalMiB = 1024;
    uint32_t readKiB = 1024;
    int64_t stripe = 128;
    int runs = 5;
    std::string only;  // run just the scenario of this name
};

std::vector<unsigned char> pseudoRandom(size_t bytes, uint64_t seed) {
    std::vector<unsigned char> data(bytes);
    uint64_t x = seed * 0x9E3779B97F4A7C15ull + 1;
    for (size_t i = 0; i + 8 <= bytes; i += 8) {
        x ^= x << 13;
        x ^= x >> 7;
        x ^= x << 17;
        std::memcpy(data.data() + i, &x, 8);
    }
    return data;
}

void writeFile(const std::string& path, const std::vector<unsigned char>& data) {
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out.write(reinterpret_cast<const char*>(data.data()), static_cast<std::streamsize>(data.size()));
    if (!out) {
        std::fprintf(stderr, "bench_read: cannot write %s\n", path.c_str());
        std::exit(2);
    }
}

double rate(uint64_t bytes, Clock::time_point start) {
    return static_cast<double>(bytes) / std::chrono::duration<double>(Clock::now() - start).count();
}

uint64_t plainPass(const std::vector<std::string>& files, std::vector<unsigned char>& buf) {
    uint64_t total = 0;
    for (const auto& f : files) {
        quenlow::platform::ReadOnlyFile file;
        if (!file.open(f)) std::exit(2);
        for (uint64_t at = 0;; at += buf.size()) {
            int64_t got = file.readAt(buf.data(), buf.size(), at);
            if (got <= 0) break;
            total += static_cast<uint64_t>(got);
        }
    }
    return total;
}

uint64_t raidPass(FileReadSeekRaid& raid, std::vector<unsigned char>& buf) {
    const uint64_t total = raid.totalSectors() * 512;
    raid.seek(0, 0);
    uint64_t done = 0;
    while (done < total) {
        uint32_t n = static_cast<uint32_t>(std::min<uint64_t>(buf.size(), total - done));
        if (!raid.read(buf.data(), n)) {
            std::fprintf(stderr, "bench_read: read failed at %llu\n", static_cast<unsigned long long>(done));
            std::exit(2);
        }
        done += n;
    }
    return done;
}

struct Scenario {
    const char* name;
    int level;
    int members;
    int missing;  // member index, -1 for none
    bool vhd;
    double target;
};

bool run(const Options& opt, const Scenario& s) {
    namespace fs = std::filesystem;
    const uint64_t memberBytes = opt.totalMiB * 1024 * 1024 / static_cast<uint64_t>(s.members);
    const uint64_t unitBytes = static_cast<uint64_t>(opt.stripe) * 512;
    const uint64_t size = memberBytes / unitBytes * unitBytes;
    std::vector<std::string> names;
    std::vector<std::string> present;
    for (int m = 0; m < s.members; ++m) {
        if (m == s.missing) {
            names.push_back("MISSING DISK");
            continue;
        }
        auto data = pseudoRandom(size, static_cast<uint64_t>(m) + 1);
        std::string path = (fs::path(opt.dir) / (std::string(s.name) + "-" + std::to_string(m) +
                                                (s.vhd ? ".vhd" : ".img"))).string();
        writeFile(path, s.vhd ? quenlow::test::buildDynamicVhd(data) : data);
        names.push_back(path);
        present.push_back(path);
    }
    FileReadSeekRaid raid;
    raid.memberNames = names;
    raid.level = s.level;
    raid.parityLayout = 3;
    raid.stripeSectors = opt.stripe;
    raid.vhdMembers = s.vhd ? 1 : 0;
    if (!raid.open()) {
        std::fprintf(stderr, "bench_read: %s: %s\n", s.name, raid.lastError().c_str());
        std::exit(2);
    }
    std::vector<unsigned char> buf(static_cast<size_t>(opt.readKiB) * 1024);
    plainPass(present, buf);  // warm the page cache
    // Plain and virtual passes take turns, so that both see the same machine; the best of
    // each counts.
    double plain = 0;
    double virt = 0;
    for (int r = 0; r < opt.runs; ++r) {
        auto start = Clock::now();
        plain = std::max(plain, rate(plainPass(present, buf), start));
        start = Clock::now();
        virt = std::max(virt, rate(raidPass(raid, buf), start));
    }
    double ratio = virt / plain;
    bool ok = ratio >= s.target;
    std::printf("%-16s plain %7.0f MB/s   virtual disk %7.0f MB/s   ratio %.2f (target %.2f)%s\n", s.name,
                plain / 1e6, virt / 1e6, ratio, s.target, ok ? "" : "  BELOW TARGET");
    std::fflush(stdout);
    for (const auto& p : present) fs::remove(p);
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
        else if (key == "--read-kib") opt.readKiB = static_cast<uint32_t>(std::stoul(value));
        else if (key == "--stripe") opt.stripe = std::stoll(value);
        else if (key == "--runs") opt.runs = std::stoi(value);
        else if (key == "--only") opt.only = value;
        else {
            std::fprintf(stderr, "bench_read: unknown option %s\n", key.c_str());
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
    std::printf("read throughput, %llu MiB of member data, %u KiB reads, stripe %lld sectors\n",
                static_cast<unsigned long long>(opt.totalMiB), opt.readKiB, static_cast<long long>(opt.stripe));
    const Scenario scenarios[] = {
        {"raid0-2", 0, 2, -1, false, 0.8},
        {"raid5-3", 5, 3, -1, false, 0.8},
        {"raid5-3-degraded", 5, 3, 1, false, 0.5},
        {"raid0-2-vhd", 0, 2, -1, true, 0.8},
    };
    bool all = true;
    for (const auto& s : scenarios)
        if (opt.only.empty() || opt.only == s.name) all = run(opt, s) && all;
    if (own) fs::remove_all(opt.dir);
    return all ? 0 : 1;
}

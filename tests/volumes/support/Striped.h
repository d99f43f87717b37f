#pragma once
// Stripes a disk image into RAID members in a folder: RAID-0, or RAID-5 with parity layout 3
// (the parity unit moves from the last member backwards, data starting after it).

#include <cstdint>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

namespace quenlow::test {

inline std::vector<std::string> stripeImage(const std::filesystem::path& image, const std::filesystem::path& dir,
                                            int level, int n, int64_t unitSectors) {
    const size_t unit = static_cast<size_t>(unitSectors) * 512;
    const int dataMembers = level == 0 ? n : n - 1;
    std::ifstream in(image, std::ios::binary);
    std::vector<std::string> names;
    std::vector<std::ofstream> out;
    for (int m = 0; m < n; ++m) {
        names.push_back((dir / ("member" + std::to_string(m) + ".img")).string());
        out.emplace_back(names.back(), std::ios::binary | std::ios::trunc);
    }
    std::vector<std::vector<char>> row(static_cast<size_t>(n), std::vector<char>(unit));
    for (int64_t r = 0; in; ++r) {
        bool any = false;
        const int parity = level == 5 ? n - 1 - static_cast<int>(r % n) : -1;
        for (int k = 0; k < dataMembers; ++k) {
            int member = level == 0 ? k : (parity + 1 + k) % n;
            auto& u = row[static_cast<size_t>(member)];
            std::fill(u.begin(), u.end(), 0);
            in.read(u.data(), static_cast<std::streamsize>(unit));
            any = any || in.gcount() > 0;
        }
        if (!any) break;
        if (level == 5) {
            auto& p = row[static_cast<size_t>(parity)];
            std::fill(p.begin(), p.end(), 0);
            for (int m = 0; m < n; ++m)
                if (m != parity)
                    for (size_t b = 0; b < unit; ++b) p[b] ^= row[static_cast<size_t>(m)][b];
        }
        for (int m = 0; m < n; ++m) out[static_cast<size_t>(m)].write(row[static_cast<size_t>(m)].data(), static_cast<std::streamsize>(unit));
    }
    return names;
}

}  // namespace quenlow::test

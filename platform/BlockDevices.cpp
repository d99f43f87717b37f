#include "platform/BlockDevices.h"

#include <algorithm>
#include <filesystem>
#include <fstream>

namespace quenlow::platform {

namespace {

std::string readLine(const std::filesystem::path& file) {
    std::ifstream in(file);
    std::string line;
    if (in) std::getline(in, line);
    while (!line.empty() && (line.back() == ' ' || line.back() == '\n' || line.back() == '\r'))
        line.pop_back();
    return line;
}

bool startsWith(const std::string& s, const std::string& prefix) {
    return s.compare(0, prefix.size(), prefix) == 0;
}

}  // namespace

std::vector<BlockDevice> listWholeDisks(const std::string& sysRoot, const std::string& devRoot) {
    namespace fs = std::filesystem;
    std::vector<BlockDevice> result;
    std::error_code ec;
    for (const auto& entry : fs::directory_iterator(sysRoot, ec)) {
        std::string name = entry.path().filename().string();
        if (startsWith(name, "ram") || startsWith(name, "zram")) continue;
        // /sys/block lists whole disks only, but a "partition" file marks one anyway.
        if (fs::exists(entry.path() / "partition", ec)) continue;
        if (startsWith(name, "loop") && readLine(entry.path() / "loop" / "backing_file").empty())
            continue;
        BlockDevice dev;
        dev.name = name;
        dev.path = (fs::path(devRoot) / name).string();
        std::string sectors = readLine(entry.path() / "size");
        try {
            dev.sizeBytes = sectors.empty() ? 0 : std::stoull(sectors) * 512ULL;
        } catch (...) {
            dev.sizeBytes = 0;
        }
        dev.model = readLine(entry.path() / "device" / "model");
        result.push_back(std::move(dev));
    }
    std::sort(result.begin(), result.end(),
              [](const BlockDevice& a, const BlockDevice& b) { return a.name < b.name; });
    return result;
}

}  // namespace quenlow::platform

#pragma once
// The machine's whole-disk block devices, as listed in /sys/block.

#include <cstdint>
#include <string>
#include <vector>

namespace quenlow::platform {

struct BlockDevice {
    std::string name;    // "sda", "nvme0n1"
    std::string path;    // "/dev/sda"
    uint64_t sizeBytes = 0;
    std::string model;   // from the device's sysfs entry, may be empty
};

// Whole disks only: no partitions, no ram/zram devices, no loop devices without a backing
// file. Sorted by name. `sysRoot` lets tests point at a fake tree.
std::vector<BlockDevice> listWholeDisks(const std::string& sysRoot = "/sys/block",
                                        const std::string& devRoot = "/dev");

}  // namespace quenlow::platform

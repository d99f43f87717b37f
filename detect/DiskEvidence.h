#pragma once
// How well a candidate assembly of the members looks like a disk: points for structures
// found where they belong and that stay consistent across stripe-unit boundaries, penalties
// for ones that break. The disk is seen one sector at a time through a function that may
// give nothing (a sector not sampled).

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

namespace quenlow::detect {

// The 512 bytes of a logical sector of the assembled disk, or null when it is not at hand.
using SectorView = std::function<const uint8_t*(int64_t sector)>;

struct Evidence {
    int64_t score = 0;
    std::vector<std::string> findings;
    int64_t held = 0, broke = 0;  // checks of the structures that held and that broke
};

// Scores the disk seen through `view`. `far`: also look at structures far from the volumes'
// starts (mirror records, backup boot sectors, superblock copies). At most `probes` sectors
// are looked at: the walks over folders, indexes and FAT chains stop there.
Evidence scoreDisk(const SectorView& view, bool far, int64_t probes);

}  // namespace quenlow::detect

#include "filesystems/fat/FatChainStream.h"

namespace quenlow::fs {

FatChainStream::FatChainStream(disk::VolumeView view, std::vector<Run> runs, uint64_t covered, uint64_t size)
    : RunStream(view, std::move(runs), size) {
    if (covered < size) noteDamage(covered, size - covered);
}

}  // namespace quenlow::fs

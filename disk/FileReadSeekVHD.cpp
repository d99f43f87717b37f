#include "disk/FileReadSeekVHD.h"

namespace quenlow::disk {

// Placeholder until the VHD reader lands.
bool FileReadSeekVHD::open(const std::string& path) {
    reportFailure("not a vhd file", path + ": VHD members are not supported yet");
    return false;
}

bool FileReadSeekVHD::seek(int64_t, int32_t) { return false; }

bool FileReadSeekVHD::read(void*, uint32_t) { return false; }

uint32_t FileReadSeekVHD::readRun(int64_t, void*, uint32_t) { return 0; }

}  // namespace quenlow::disk

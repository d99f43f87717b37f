#pragma once
// The state one recovery shares across its steps. The application (GUI or command line)
// owns one and hands it to whoever needs it; there is no global.

#include <cstdint>
#include <memory>
#include <string>

#include "disk/Feedback.h"

namespace quenlow::disk {

class FileReadSeekRaid;

struct RecoveryContext {
    RecoveryContext();
    ~RecoveryContext();
    RecoveryContext(const RecoveryContext&) = delete;
    RecoveryContext& operator=(const RecoveryContext&) = delete;

    // The RAID virtual disk in use; replaced whenever the member list is set up anew.
    std::unique_ptr<FileReadSeekRaid> raidDisk;
    // Size, in 512-byte sectors, of whatever was opened or probed last.
    uint64_t totalSectors = 0;
    // "Is Drive Formated..?" of the recovery-mode choice.
    bool driveFormatted = false;
    // Text of the root node of a recovered tree.
    std::string rootLabel = "ROOT";
    // Where readers send their messages ("invalid handle ...", "not a vhd file").
    Feedback* feedback = &silentFeedback();
};

}  // namespace quenlow::disk

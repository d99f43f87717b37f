#pragma once
// An exFAT parser over a volume in memory, with the recovery context (`driveFormatted`), a
// tree and the recorded feedback, for the parse tests of each mode.

#include <memory>
#include <vector>

#include "disk/RecoveryContext.h"
#include "filesystems/MemoryTree.h"
#include "filesystems/exfat/Fat64Class.h"
#include "support/MemoryDisk.h"
#include "support/ParserHarness.h"
#include "support/RecordingFeedback.h"

namespace quenlow::test {

struct ExFatOnDisk {
    ExFatOnDisk(std::vector<uint8_t> bytes, bool formatted) : disk(std::move(bytes)) {
        context.driveFormatted = formatted;
        fs::ParserSetup setup = setupOn(disk, volume, tree);
        setup.context = &context;
        parser = std::make_unique<fs::Fat64Class>(setup);
    }
    MemoryDisk disk;
    volumes::VolumeRecord volume;
    fs::MemoryTree tree;
    disk::RecoveryContext context;
    RecordingFeedback feedback;
    std::unique_ptr<fs::Fat64Class> parser;
};

}  // namespace quenlow::test

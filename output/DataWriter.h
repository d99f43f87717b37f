#pragma once
// Writes one entry's data into a new file of an output folder: holes stay holes, the stop
// request is honoured between pieces, the times are set, and what could not be read is
// reported. The file is written under a name that says it is unfinished ("name.partial")
// and takes its own name only when it is complete, so an interrupted save never leaves a
// partial file under a real name; a stopped one is removed.

#include <cstdint>
#include <string>
#include <vector>

#include "disk/WorkControl.h"
#include "filesystems/VolumeParser.h"

namespace quenlow::platform {
class OutputFolder;
}

namespace quenlow::output {

struct WriteOutcome {
    bool ok = false;
    bool stopped = false;                 // the stop request ended it; nothing was left
    std::string error;                    // why it failed
    std::vector<disk::ByteRange> damaged; // byte ranges of the data that could not be read
};

// The name a file is written under until it is complete.
std::string partialName(const std::string& name);

// Writes `data` as `name` (which must not exist) inside `folder`.
WriteOutcome writeData(fs::EntryData& data, const platform::OutputFolder& folder, const std::string& name,
                       WorkControl& control);

}  // namespace quenlow::output

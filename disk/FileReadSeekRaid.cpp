#include "disk/FileReadSeekRaid.h"

#include "disk/RecoveryContext.h"

namespace quenlow::disk {

// Placeholder until the RAID mapping lands.
FileReadSeekRaid::FileReadSeekRaid(RecoveryContext* context) : readWriteInterface(context) {}
FileReadSeekRaid::~FileReadSeekRaid() = default;

bool FileReadSeekRaid::open(const std::string&) { return false; }
bool FileReadSeekRaid::seek(int64_t, int32_t) { return false; }
bool FileReadSeekRaid::read(void*, uint32_t) { return false; }
bool FileReadSeekRaid::rotate(std::string*) { return false; }
int64_t FileReadSeekRaid::probeMember(const std::string&) { return 0; }
int64_t FileReadSeekRaid::probeVhdMember(const std::string&) { return 0; }
FileReadSeekRaid::Location FileReadSeekRaid::map(int64_t) const { return {}; }
bool FileReadSeekRaid::isMissingName(const std::string&) { return false; }

}  // namespace quenlow::disk

#include "disk/RecoveryContext.h"

#include "disk/FileReadSeekRaid.h"

namespace quenlow::disk {

RecoveryContext::RecoveryContext() = default;
RecoveryContext::~RecoveryContext() = default;

}  // namespace quenlow::disk

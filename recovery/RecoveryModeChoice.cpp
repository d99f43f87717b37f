#include "recovery/RecoveryModeChoice.h"

#include <strings.h>

#include "disk/RecoveryContext.h"

namespace quenlow::recovery {

RecoveryModeChoice::RecoveryModeChoice(const std::string& fileSystem, disk::RecoveryContext* context)
    : context_(context) {
    size_t begin = fileSystem.find_first_not_of(" \t\r\n");
    std::string prefix = begin == std::string::npos ? std::string() : fileSystem.substr(begin, 3);
    auto is = [&](const char* p) { return ::strcasecmp(prefix.c_str(), p) == 0; };
    fatPrefix_ = is("fat");
    if (fatPrefix_ || is("exF")) deep_ = false;
    if (is("ext")) advanced_ = deep_ = false;
    if (is("HFS")) advanced_ = false;
    choose(fs::Mode::Standard);
}

bool RecoveryModeChoice::offers(fs::Mode mode) const {
    switch (mode) {
        case fs::Mode::Standard: return true;
        case fs::Mode::Advanced: return advanced_;
        case fs::Mode::Deep: return deep_;
    }
    return false;
}

bool RecoveryModeChoice::choose(fs::Mode mode) {
    if (!offers(mode)) return false;
    writeFormatted(false);
    mode_ = mode;
    return true;
}

bool RecoveryModeChoice::setFormatted(bool formatted) {
    if (!showsFormatted()) return false;
    writeFormatted(formatted);
    return true;
}

void RecoveryModeChoice::writeFormatted(bool formatted) {
    formatted_ = formatted;
    if (context_ != nullptr) context_->driveFormatted = formatted;
}

}  // namespace quenlow::recovery

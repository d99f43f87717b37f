#include "recovery/ScanSettings.h"

#include <algorithm>

#include "recovery/VolumeChoice.h"

namespace quenlow::recovery {

std::string ScanModeChoice::refusal() const {
    if (!customRange) return {};
    for (const auto& [label, text] : {std::pair{"Starting Sector:", &startText}, std::pair{"Ending Sector:", &endText}})
        if (std::string refusal = VolumeChoice::notNumberText(label, *text); !refusal.empty()) return refusal;
    return {};
}

ScanSettings ScanModeChoice::next() const {
    ScanSettings s;
    s.mode = advanced_ ? 2 : 1;
    s.gptFormat = gptFormat;
    s.doNotSkipVolumeSize = doNotSkipVolumeSize;
    if (customRange) {
        const int64_t start = VolumeChoice::leadingNumber(startText);
        const int64_t end = VolumeChoice::leadingNumber(endText);
        if (end >= 0) {
            s.customStart = std::max<int64_t>(0, start);
            s.customEnd = end;
        }
    }
    return s;
}

}  // namespace quenlow::recovery

#pragma once
// The scan mode page's rules, without widgets: Standard Scan (the partition tables) or
// Advance Scan (a sector scan), "GPT format", "Do not Skip Volume Size" and the custom
// sector range, and the settings Next hands to the volume list.

#include <cstdint>
#include <string>

namespace quenlow::recovery {

inline constexpr const char* kRaidDriveLabel = "raid Hard disk..";

// What the volume list is given.
struct ScanSettings {
    std::string driveLabel = kRaidDriveLabel;
    int mode = 1;  // 1 standard, 2 advanced
    bool gptFormat = false;
    bool doNotSkipVolumeSize = false;
    int64_t customStart = 0;
    int64_t customEnd = 0;  // 0: no end
};

class ScanModeChoice {
public:
    // Standard Scan disables "Do not Skip Volume Size" and "Custom Setting:" (their checks
    // stay as they are); Advance Scan enables both.
    void chooseStandard() { advanced_ = false; }
    void chooseAdvanced() { advanced_ = true; }
    bool advanced() const { return advanced_; }
    bool optionsEnabled() const { return advanced_; }
    // The range edits are enabled with "Custom Setting:".
    bool rangeEnabled() const { return customRange; }

    bool gptFormat = false;
    bool doNotSkipVolumeSize = false;
    bool customRange = false;
    std::string startText = "0";
    std::string endText = "0";

    // The range is handed over whenever "Custom Setting:" is checked (even while disabled)
    // and its end is not negative; text that is no number reads as 0. A negative start
    // with a usable end starts at sector 0.
    ScanSettings next() const;
    // Why Next must stay: a sector of the custom range that is no number (only while
    // "Custom Setting:" is checked); "" when Next may go.
    std::string refusal() const;

private:
    bool advanced_ = false;
};

}  // namespace quenlow::recovery

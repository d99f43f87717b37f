#pragma once
// The recovery mode page's rules, without widgets: which modes a volume's file system
// offers (by the first three letters of its file-system text), the mode chosen, the
// maximum number of candidates for Advanced (its box starts at "3"), and "Is Drive
// Formated..?", shown with Advanced on FAT-family volumes only and cleared by every change
// of mode.

#include <string>

#include "filesystems/VolumeParser.h"

namespace quenlow::disk {
struct RecoveryContext;
}

namespace quenlow::recovery {

inline constexpr const char* kDefaultMaximumText = "3";

class RecoveryModeChoice {
public:
    // `context` receives driveFormatted; may be null.
    RecoveryModeChoice(const std::string& fileSystem, disk::RecoveryContext* context);

    bool offers(fs::Mode mode) const;
    // Chooses `mode` (one the volume offers; others are ignored and return false). Clears
    // driveFormatted.
    bool choose(fs::Mode mode);
    fs::Mode mode() const { return mode_; }

    // The maximum box and its labels are shown with Advanced.
    bool showsMaximum() const { return mode_ == fs::Mode::Advanced; }
    // "Is Drive Formated..?" is shown with Advanced on a volume whose prefix is "fat".
    bool showsFormatted() const { return showsMaximum() && fatPrefix_; }
    // Sets driveFormatted when the box is shown; false otherwise.
    bool setFormatted(bool formatted);
    bool formatted() const { return formatted_; }

    std::string maximumText = kDefaultMaximumText;

    enum class NextPage { AdvancedInput, Browse };
    // Advanced leads to the advanced input page, Standard and Deep to the browse page.
    NextPage nextPage() const { return mode_ == fs::Mode::Advanced ? NextPage::AdvancedInput : NextPage::Browse; }

private:
    void writeFormatted(bool formatted);

    disk::RecoveryContext* context_;
    bool fatPrefix_ = false;
    bool advanced_ = true;
    bool deep_ = true;
    fs::Mode mode_ = fs::Mode::Standard;
    bool formatted_ = false;
};

}  // namespace quenlow::recovery

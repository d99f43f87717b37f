#pragma once
// What every parse worker does when its parser has filled the first level of the tree:
// placeholder children for the first-level folders that have children, then the message
// and status that the volume is ready.

#include "disk/Feedback.h"
#include "filesystems/FolderTree.h"
#include "filesystems/VolumeParser.h"

namespace quenlow::recovery {

// The text of the placeholder child that gives a folder its expand button.
inline constexpr const char* kPlaceholderText = "..DUMY..";
inline constexpr const char* kParseDoneText = "Scanning processing done.Select save button to save the data.";

// Under each child of the tree's root item that is a folder with children, appends one
// placeholder item "..DUMY..".
void addPlaceholderChildren(fs::FolderTree& tree, const fs::VolumeParser& parser);

// The completion sequence: placeholders, then `restoreNames` when given (the Recycle Bin
// names), then the message "Scanning processing done..." and the same status text.
template <class RestoreNames>
void completeParse(fs::FolderTree& tree, const fs::VolumeParser& parser, Feedback& feedback,
                   RestoreNames restoreNames) {
    addPlaceholderChildren(tree, parser);
    restoreNames();
    feedback.message(kParseDoneText);
    feedback.status(kParseDoneText);
}

inline void completeParse(fs::FolderTree& tree, const fs::VolumeParser& parser, Feedback& feedback) {
    completeParse(tree, parser, feedback, [] {});
}

}  // namespace quenlow::recovery

#pragma once
// The parse worker of an NTFS volume in the standard mode: the parser's steps in order, then
// the completion sequence. Written over the parser's step operations so that it runs the
// same with the real parser and with a stand-in.

#include <string>

#include "disk/Feedback.h"
#include "filesystems/FolderTree.h"
#include "recovery/ParseCompletion.h"

namespace quenlow::recovery {

inline constexpr const char* kNtfsSelectedText = "ntfs partition selected....";
inline constexpr const char* kMftParsingText = " ParsingBasedOnMFT is going on....";

// `Parser` offers prepare(), readBootSector(), locateMft(), enumerateMft(), parseEntries()
// and a member `mode`, and is a fs::VolumeParser. Each step itself does nothing once a stop
// was requested, so a stopped parse still completes with the entries found so far.
template <class Parser, class RestoreNames>
void runNtfsStandardWorker(Parser& parser, fs::FolderTree& tree, Feedback& feedback,
                           int recoveryMode, RestoreNames restoreNames) {
    (void)parser.prepare();
    (void)parser.readBootSector();
    parser.mode = recoveryMode;
    feedback.status(kMftParsingText);
    (void)parser.locateMft();
    (void)parser.enumerateMft();
    (void)parser.parseEntries();
    completeParse(tree, parser, feedback, restoreNames);
}

template <class Parser>
void runNtfsStandardWorker(Parser& parser, fs::FolderTree& tree, Feedback& feedback, int recoveryMode) {
    runNtfsStandardWorker(parser, tree, feedback, recoveryMode, [] {});
}

}  // namespace quenlow::recovery

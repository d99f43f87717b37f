#pragma once
// The file systems this build reads. Each parser's folder defines one function giving its
// ParserInfo, named on one line of the registry's list (ParserRegistry.cpp); a test may add
// a parser of its own with a static ParserRegistration. recovery/ and cli/ find parsers only
// here, by the volume's file-system text (letter case ignored).

#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "filesystems/VolumeParser.h"

namespace quenlow::fs {

struct ParserInfo {
    std::string name;                    // as a user reads it: "NTFS", "FAT32", ...
    std::vector<std::string> typeNames;  // file-system texts and override names it takes
    std::vector<Mode> modes;             // the recovery modes it implements
    std::string selectedStatus;          // status shown before its parse starts; may be empty
    bool restoresRecycleBin = false;     // its completion restores Recycle Bin names
    bool recycleBinUserFolders = false;  // the Recycle Bin keeps one folder per user (NTFS)
    bool expandingClearsList = false;    // expanding a folder empties the file list
    bool caseInsensitiveNames = false;   // names on the volume compare without letter case
    std::function<std::unique_ptr<VolumeParser>(const ParserSetup&)> create;

    bool offers(Mode mode) const;
};

// The parser for a file-system text, or null.
const ParserInfo* findParser(const std::string& fileSystem);
// Every registered parser, in registration order.
const std::vector<ParserInfo>& registeredParsers();

struct ParserRegistration {
    explicit ParserRegistration(ParserInfo info);
};

}  // namespace quenlow::fs

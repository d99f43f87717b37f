#pragma once
// What every whole-volume fuzz target asks of a parser after its parse: the texts and data
// of each entry can be made, and every walk of the folders from the first level ends.

#include <cstdint>
#include <filesystem>
#include <string>
#include <unistd.h>
#include <vector>

#include "filesystems/VolumeParser.h"
#include "support/ParserHarness.h"

namespace quenlow::fuzz {

// A folder of this process for the files the targets save, removed when the process ends.
inline const std::string& scratchFolder() {
    struct Folder {
        std::string path = std::filesystem::temp_directory_path() / ("quenlow-fuzz-" + std::to_string(::getpid()));
        Folder() { std::filesystem::create_directories(path); }
        ~Folder() {
            std::error_code ignored;
            std::filesystem::remove_all(path, ignored);
        }
    };
    static const Folder folder;
    return folder.path;
}

// Texts, times and (for files up to `largestSaved` bytes) the data of each of `entries`.
inline void exerciseEntries(fs::VolumeParser& parser, const std::vector<fs::EntryRef>& entries,
                            int64_t largestSaved = int64_t{1} << 20) {
    const std::string out = scratchFolder() + "/f";
    for (fs::EntryRef ref : entries) {
        parser.entryTexts(ref);
        parser.sizeText(ref);
        parser.times(ref);
        if (parser.isFolder(ref) || parser.dataSize(ref) > largestSaved) continue;
        std::string error;
        test::saveEntryTo(parser, ref, out, error);
        std::filesystem::remove(out);
    }
}

// Walks every folder from the first level; more than `bound` steps is a loop, and traps.
inline void walkMustEnd(const fs::VolumeParser& parser, size_t bound) {
    size_t visited = 0;
    std::vector<fs::EntryRef> stack = parser.firstLevel();
    while (!stack.empty()) {
        fs::EntryRef f = stack.back();
        stack.pop_back();
        if (++visited > bound) __builtin_trap();
        for (fs::EntryRef c = parser.firstChild(f); c != fs::kNoEntry; c = parser.nextSibling(c)) {
            if (++visited > bound) __builtin_trap();
            if (parser.isFolder(c)) stack.push_back(c);
        }
    }
}

}  // namespace quenlow::fuzz

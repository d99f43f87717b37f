#include "cli/TerminalPhrases.h"

#include <regex>
#include <unordered_map>
#include <vector>

#include "recovery/ParseCompletion.h"
#include "recovery/VolumeSession.h"

namespace quenlow::cli {

namespace {

// Texts with a number or a name in them, matched whole; the replacement may use $1.
struct Pattern {
    std::regex core;
    std::string terminal;
};

struct Phrases {
    std::unordered_map<std::string, std::string> exact;
    std::vector<std::pair<std::string, std::string>> prefixes;  // the rest of the text follows
    std::vector<Pattern> patterns;

    std::string phrase(const std::string& text) const {
        if (auto it = exact.find(text); it != exact.end()) return it->second;
        for (const auto& [core, terminal] : prefixes)
            if (text.compare(0, core.size(), core) == 0) return terminal.empty() ? "" : terminal + text.substr(core.size());
        std::smatch m;
        for (const auto& p : patterns)
            if (std::regex_match(text, m, p.core)) return m.format(p.terminal);
        return text;
    }
};

Pattern pattern(const char* core, const char* terminal) { return {std::regex(core), terminal}; }

const Phrases& statuses() {
    static const Phrases table{
        {
            // The NTFS parser's.
            {"ntfs partition selected....", "reading the NTFS volume..."},
            {" ParsingBasedOnMFT is going on....", "parsing the MFT..."},
            {"boot sector is fine.Getting run of mft entry...", "finding where the MFT lies..."},
            {"getting run of mft...", "finding where the MFT lies..."},
            {"Got run...", "reading the MFT..."},
            {"got run...", "reading the MFT..."},
            {"got run ...", "reading the MFT..."},
            {"boot sector corrupt.Scanning for first mft entry...",
             "the boot sector is damaged: searching the volume for the MFT..."},
            {"found mft entry.getting its run ...", "found the MFT: finding where it lies..."},
            {recovery::kParseDoneText, ""},
            {recovery::kSearchFinishedText, ""},
            {recovery::kNotValidDriveStatus, ""},
            {"Scanning partition.....", "scanning for volumes..."},
            {"Scanned Partitions", "scan done"},
            {"NTFS...", "found an NTFS volume..."},
            {"found NTFS...", "found an NTFS volume..."},
            {"found FAT 12...", "found a FAT12 volume..."},
            {"found FAT 16...", "found a FAT16 volume..."},
            {"found FAT 32...", "found a FAT32 volume..."},
            {"found FAT64...", "found a FAT64 (exFAT) volume..."},
            {"found ext2...", "found an ext volume..."},
            {"found extx...", "found an ext volume..."},
            {"found HFS+...", "found an HFS+ volume..."},
            {"found UNKNOWN...", "found a volume of unknown type..."},
        },
        {{"saving File  ", "saving "}},
        {
            pattern(R"(parsing (\d+) cluster of MFT run\.)", "reading the MFT from cluster $1..."),
            pattern(R"(parsing MFT entry (\d+)\.\.\.)", "parsing MFT record $1..."),
            pattern(R"(found NTFS (\d+)\.\.\.)", "found NTFS volume $1..."),
            pattern(R"(searched file (\d+))", "searching: $1 found..."),
        },
    };
    return table;
}

const Phrases& messages() {
    static const Phrases table{
        {
            // Said by the save command's summary line, or by the command's own errors.
            {recovery::kParseDoneText, ""},
            {recovery::kSearchFinishedText, ""},
            {"work done", ""},
            {"not a valid entry...", ""},
            {recovery::kNotValidDriveText, "the volume holds no file system this build can read"},
            {"select output folder", "no output folder: give --out DIR"},
        },
        // The save report lists every file that failed with its path.
        {{"Exception :  ", ""}},
        {
            pattern(R"(This is  [\s\S]* directory \.Please specify file names )", ""),
            pattern(R"(save stopped: [\s\S]*|\d+ file\(s\) (could not be saved|saved under another name)[\s\S]*)", ""),
        },
    };
    return table;
}

}  // namespace

std::string terminalStatus(const std::string& text) { return statuses().phrase(text); }

std::string terminalMessage(const std::string& text) { return messages().phrase(text); }

std::string terminalQuestion(const std::string& text, const std::string& outputFolder) {
    static const std::regex saveQuestion(
        R"(number of files found inside this folder = (-?\d+) \.do u want to continue dumping these files\.\.\?)");
    std::smatch m;
    if (!std::regex_match(text, m, saveQuestion)) return text;
    std::string count = m[1].str();
    std::string question = "Save " + count + (count == "1" ? " file" : " files");
    if (!outputFolder.empty()) question += " into " + outputFolder;
    return question + "?";
}

}  // namespace quenlow::cli

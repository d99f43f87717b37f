#pragma once
// Saving files of a parsed volume into a folder of the user's file system: a whole folder
// (its children go straight into the output folder, sub-folders as sub-folders, at any
// depth), the first level of the volume, or one file. The parser describes each file's data
// (openData); this class decides what is saved and under which name, and DataWriter writes
// it.
//
// Names from the disk are untrusted: each becomes one safe path component (OutputName.h),
// and folders are made and entered relative to the opened output folder, never through a
// symbolic link. Within one output folder every child gets a distinct name: live entries
// claim their own names first, in child-list order; a deleted entry whose name is taken is
// written as "name (deleted 1).ext", a second live one as "name (2).ext". A file that
// already exists on disk is never replaced: the new one takes the next distinct name. An
// existing folder of the same name is reused. Every renamed folder or file, every file that
// failed, and every file whose data could not all be read (with the byte ranges) is reported.
// Folder times are set once their contents are written.

#include <cstdint>
#include <string>
#include <unordered_set>
#include <vector>

#include "disk/Feedback.h"
#include "disk/VolumeView.h"
#include "disk/WorkControl.h"
#include "filesystems/VolumeParser.h"

namespace quenlow::platform {
class OutputFolder;
}

namespace quenlow::output {

struct SaveReport {
    enum class Outcome {
        Saved,               // the walk ran (it may have been stopped, see `stopped`)
        NoOutputFolder,      // "select output folder"
        NotQualifying,       // the selection is not a folder (or file) that can be saved
        Declined,            // the user answered no
        OutputFolderFailed,  // the output folder could not be opened or created
    };
    struct Renamed {
        std::string volumePath;  // '/'-separated path on the volume
        std::string savedPath;   // where it was written
    };
    struct Failure {
        std::string path;   // where it was to be written
        std::string error;
        bool folder = false;  // a folder that could not be made (its files fail too)
    };
    struct Damaged {
        std::string path;   // where it was written
        std::vector<disk::ByteRange> ranges;  // of its data, not read from the source
    };

    Outcome outcome = Outcome::NotQualifying;
    int64_t counted = 0;   // files found by the count
    int64_t handled = 0;   // files reached by the walk (the files counter)
    int64_t written = 0;   // files written
    int64_t skipped = 0;   // counted but never written ("$BadClus")
    int64_t foldersCreated = 0;
    bool stopped = false;
    std::string error;     // for OutputFolderFailed
    std::vector<Renamed> renamed;
    std::vector<Failure> failures;
    std::vector<Damaged> damaged;  // written, but with parts that could not be read

    // Files that could not be saved (folders that failed are not counted here).
    int64_t failedFiles() const;
    bool ok() const { return outcome == Outcome::Saved && !stopped && failures.empty() && damaged.empty(); }
};

class FolderSaver {
public:
    // `control` is polled between files and while a file is written; a stop left from
    // earlier work is cleared when a save starts.
    FolderSaver(fs::VolumeParser& parser, Feedback& feedback, WorkControl& control);

    // The folder `folder` (it must qualify as a folder to save): its children into
    // `outputFolder`, after asking whether to go on with the number of files found.
    SaveReport saveFolder(fs::EntryRef folder, const std::string& outputFolder);
    // The same for a list of entries taken as the children of one folder (the volume's
    // first level, for saving everything at once).
    SaveReport saveEntries(const std::vector<fs::EntryRef>& entries, const std::string& outputFolder);
    // One file into `outputFolder`, without a question.
    SaveReport saveFile(fs::EntryRef file, const std::string& outputFolder);

    // The files below `folder` at any depth, as the save would reach them.
    int64_t countFiles(fs::EntryRef folder);
    int64_t countFiles(const std::vector<fs::EntryRef>& entries);

    // A folder's children in child-list order, each entry at most once, the walk bounded.
    std::vector<fs::EntryRef> children(fs::EntryRef folder) const { return childrenOf(parser_, folder); }
    static std::vector<fs::EntryRef> childrenOf(const fs::VolumeParser& parser, fs::EntryRef folder);

    // The output folder as it is used: white space removed at both ends. Empty (also when
    // the text was only white space) means no output folder was given.
    static std::string cleanOutputFolder(const std::string& text);

private:
    struct Walk;
    SaveReport saveList(const std::vector<fs::EntryRef>& entries, const std::string& outputFolder,
                        fs::EntryRef self);
    int64_t countList(const std::vector<fs::EntryRef>& entries, std::unordered_set<fs::EntryRef>& seen, int depth);
    void walkList(const std::vector<fs::EntryRef>& entries, platform::OutputFolder* folder,
                  const std::string& volumePath, const std::string& displayPath, Walk& walk, int depth);
    void saveOne(fs::EntryRef file, const std::string& name, platform::OutputFolder* folder,
                 const std::string& volumePath, const std::string& displayPath, Walk& walk);
    void writeOne(fs::EntryRef file, const std::string& name, platform::OutputFolder& folder,
                  const std::string& volumePath, const std::string& display, Walk& walk);
    void setFolderTimes(fs::EntryRef entry, const platform::OutputFolder& parent, const std::string& name);
    bool openOutput(const std::string& outputFolder, platform::OutputFolder& root, SaveReport& report);

    fs::VolumeParser& parser_;
    Feedback& feedback_;
    WorkControl& control_;
};

}  // namespace quenlow::output

#pragma once
// Driving a parser in the tests the way recovery/ and output/ do: made on a volume, parsed,
// and each entry's data saved or read through its stream.

#include <filesystem>
#include <string>

#include "disk/WorkControl.h"
#include "filesystems/VolumeParser.h"
#include "output/DataWriter.h"
#include "platform/OutputFolder.h"

namespace quenlow::test {

inline fs::ParserSetup setupOn(disk::readWriteInterface& reader, const volumes::VolumeRecord& volume,
                               fs::FolderTree& tree) {
    fs::ParserSetup setup;
    setup.view = disk::VolumeView(reader, volume.startSector * 512);
    setup.volume = volume;
    setup.tree = &tree;
    return setup;
}

inline fs::ParseOutcome parseIn(fs::VolumeParser& parser, Feedback& feedback = silentFeedback(),
                                fs::Mode mode = fs::Mode::Standard) {
    WorkControl control;
    return parser.parse(control, feedback, mode);
}

// Saves the entry's data as the file `path` (which must not exist) the way a save does.
inline bool saveEntryTo(fs::VolumeParser& parser, fs::EntryRef entry, const std::filesystem::path& path,
                        std::string& error, Feedback& feedback = silentFeedback()) {
    fs::Result<fs::EntryData> data = parser.openData(entry, feedback);
    if (!data) {
        error = data.reason();
        return false;
    }
    platform::OutputFolder folder;
    if (!folder.openRoot(path.parent_path().string())) {
        error = folder.error();
        return false;
    }
    WorkControl control;
    output::WriteOutcome written = output::writeData(data.value(), folder, path.filename().string(), control);
    error = written.error;
    return written.ok;
}

// Every byte of the entry's data ("" when it has none or cannot be opened).
inline std::string readData(fs::VolumeParser& parser, fs::EntryRef entry) {
    fs::Result<fs::EntryData> data = parser.openData(entry, silentFeedback());
    if (!data) return {};
    std::string bytes(static_cast<size_t>(data->stream->size()), '\0');
    data->stream->read(0, bytes.data(), bytes.size());
    return bytes;
}

}  // namespace quenlow::test

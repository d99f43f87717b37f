#pragma once
// A fixture image read the three ways the fixture tests read it: directly, as a RAID-0 of
// two members (stripe 128), or as a RAID-5 of three members (layout 3, stripe 64) with the
// second one missing, striped at test time. And the save of one entry, as its digest.

#include <sys/stat.h>

#include <filesystem>
#include <memory>
#include <ostream>
#include <string>

#include "disk/FileReadSeek.h"
#include "disk/FileReadSeekRaid.h"
#include "support/ArrayBuilder.h"
#include "support/ParserHarness.h"
#include "support/Sha256.h"

namespace quenlow::test {

enum class FixtureArray { none, raid0, degradedRaid5 };

inline const char* suffixOf(FixtureArray a) {
    return a == FixtureArray::raid0 ? "_raid0" : a == FixtureArray::degradedRaid5 ? "_raid5" : "";
}

// The reader of `image` in the `kind` of array; `array` keeps the members. Null with `error`.
inline std::unique_ptr<disk::readWriteInterface> openFixture(const std::filesystem::path& image, FixtureArray kind,
                                                             BuiltArray& array, std::string& error) {
    if (kind == FixtureArray::none) {
        auto file = std::make_unique<disk::FileReadSeek>();
        if (!file->open(image.string())) {
            error = "cannot open " + image.string();
            return nullptr;
        }
        return file;
    }
    bool raid5 = kind == FixtureArray::degradedRaid5;
    array = (raid5 ? ArrayBuilder::raid5(3, 3, 64) : ArrayBuilder::raid0(2, 128)).buildFromFile(image.string());
    auto raid = std::make_unique<disk::FileReadSeekRaid>();
    raid->memberNames = array.memberPaths;
    if (raid5) raid->memberNames[1] = "MISSING DISK";
    raid->partitionOffsets.assign(raid->memberNames.size(), 0);
    raid->level = raid5 ? 5 : 0;
    raid->parityLayout = 3;
    raid->stripeSectors = raid5 ? 64 : 128;
    if (!raid->open()) {
        error = raid->lastError();
        return nullptr;
    }
    return raid;
}

// Saves the entry as `target`: the saved file's digest, whether its data was reported
// damaged, and the saved file's stat.
inline std::string saveAndHash(fs::VolumeParser& parser, fs::EntryRef e, const std::filesystem::path& target,
                               bool& damaged, struct stat* st) {
    std::string error;
    fs::Result<fs::EntryData> data = parser.openData(e, silentFeedback());
    damaged = data.ok() && !data->stream->damaged().empty();
    bool saved = saveEntryTo(parser, e, target, error);
    if (!saved || ::stat(target.c_str(), st) != 0) return "not saved: " + error;
    return Sha256::ofFile(target.string());
}

}  // namespace quenlow::test

#pragma once
// A parser stand-in for the tests of everything after parsing: a table of entries linked by
// child lists, whose data is held in memory.

#include <cstdint>
#include <string>
#include <vector>

#include "filesystems/EntryFormat.h"
#include "filesystems/VolumeParser.h"
#include "support/RecordingFeedback.h"

namespace quenlow::test {

class FakeVolume : public fs::VolumeParser {
public:
    struct Entry {
        std::string name;
        bool folder = false;
        bool deleted = false;
        std::string data;
        int64_t modified = 1500000000;  // Unix seconds
        fs::EntryRef firstChild = 0;
        fs::EntryRef nextSibling = 0;
    };

    FakeVolume() { entries.push_back({}); }  // ref 0 means no entry

    // Appends an entry at the end of `parent`'s child list (0: a first-level entry).
    fs::EntryRef add(fs::EntryRef parent, const std::string& name, bool folder,
                     const std::string& data = "", bool deleted = false) {
        Entry e;
        e.name = name;
        e.folder = folder;
        e.deleted = deleted;
        e.data = data;
        entries.push_back(e);
        fs::EntryRef ref = entries.size() - 1;
        if (parent == 0) {
            top.push_back(ref);
        } else if (entries[parent].firstChild == 0) {
            entries[parent].firstChild = ref;
        } else {
            fs::EntryRef c = entries[parent].firstChild;
            while (entries[c].nextSibling != 0) c = entries[c].nextSibling;
            entries[c].nextSibling = ref;
        }
        return ref;
    }
    fs::EntryRef folder(fs::EntryRef parent, const std::string& name, bool deleted = false) {
        return add(parent, name, true, "", deleted);
    }
    fs::EntryRef file(fs::EntryRef parent, const std::string& name, const std::string& data,
                      bool deleted = false) {
        return add(parent, name, false, data, deleted);
    }

    bool valid(fs::EntryRef e) const { return e > 0 && e < entries.size(); }

    std::vector<fs::EntryRef> firstLevel() const override { return top; }
    fs::EntryRef firstChild(fs::EntryRef f) const override { return valid(f) ? entries[f].firstChild : 0; }
    fs::EntryRef nextSibling(fs::EntryRef e) const override { return valid(e) ? entries[e].nextSibling : 0; }
    bool qualifiesAsSaveFolder(fs::EntryRef e) const override { return valid(e) && entries[e].folder; }
    bool isFolder(fs::EntryRef e) const override { return valid(e) && entries[e].folder; }
    bool isFile(fs::EntryRef e) const override { return valid(e) && !entries[e].folder; }
    bool hasChildren(fs::EntryRef e) const override { return valid(e) && entries[e].firstChild > 0; }
    bool isDeleted(fs::EntryRef e) const override { return valid(e) && entries[e].deleted; }
    std::string name(fs::EntryRef e) const override { return valid(e) ? entries[e].name : ""; }
    bool setName(fs::EntryRef e, const std::string& n) override { return valid(e) && (entries[e].name = n, true); }
    int64_t sizeField(fs::EntryRef e) const override { return valid(e) ? static_cast<int64_t>(entries[e].data.size()) : 0; }
    bool skipWhenSaving(fs::EntryRef e) const override { return valid(e) && entries[e].name == "$BadClus"; }
    std::string sizeText(fs::EntryRef e) override { return fs::sizeText(dataSize(e)); }
    int64_t dataSize(fs::EntryRef e) override { return sizeField(e); }
    fs::EntryTexts entryTexts(fs::EntryRef e) override {
        std::string t = fs::dateTextFromUnix(valid(e) ? entries[e].modified : 0);
        return {t, t, t, isDeleted(e) ? "-A" : ""};
    }
    fs::EntryTimes times(fs::EntryRef e) override {
        fs::EntryTimes t;
        if (!valid(e)) return t;
        t.modified = t.accessed = platform::UnixTime{entries[e].modified, 0};
        return t;
    }
    fs::ParseOutcome parse(WorkControl&, Feedback&, fs::Mode) override { return {}; }
    fs::Result<fs::EntryData> openData(fs::EntryRef e, Feedback&) override {
        opened.push_back(e);
        // The save that follows the last allowed one is stopped before it writes anything.
        if (stopAfterSaves > 0 && static_cast<int>(opened.size()) == stopAfterSaves + 1) control.requestStop();
        if (!valid(e)) return fs::Status::failure("not an entry");
        fs::EntryData data;
        data.stream = std::make_unique<fs::MemoryStream>(
            std::vector<uint8_t>(entries[e].data.begin(), entries[e].data.end()));
        data.size = entries[e].data.size();
        data.times = times(e);
        return data;
    }

    std::vector<Entry> entries;
    std::vector<fs::EntryRef> top;
    std::vector<fs::EntryRef> opened;
    int stopAfterSaves = 0;  // > 0: request a stop once that many files were saved
    WorkControl control;     // what a save of this volume polls
};

}  // namespace quenlow::test

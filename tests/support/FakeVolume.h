#pragma once
// A parser stand-in for tests of the steps after parsing: a table of entries linked by
// child lists, whose saveEntry writes the entry's bytes exclusively and sets its times.

#include <cstdint>
#include <string>
#include <vector>

#include "filesystems/EntryFormat.h"
#include "filesystems/VolumeParser.h"
#include "platform/OutputFile.h"

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
    int64_t sizeField(fs::EntryRef e) const override { return valid(e) ? static_cast<int64_t>(entries[e].data.size()) : 0; }
    bool skipWhenSaving(fs::EntryRef e) const override { return valid(e) && entries[e].name == "$BadClus"; }
    std::string sizeText(fs::EntryRef e) override { return fs::sizeText(dataSize(e)); }
    int64_t dataSize(fs::EntryRef e) override { return sizeField(e); }
    fs::EntryTexts entryTexts(fs::EntryRef e) override {
        std::string t = fs::dateTextFromUnix(valid(e) ? entries[e].modified : 0);
        return {t, t, t, isDeleted(e) ? "-A" : ""};
    }
    bool saveEntry(fs::EntryRef e, const std::string& path, std::string& error) override {
        savedPaths.push_back(path);
        if (!valid(e)) return false;
        platform::OutputFile out;
        if (!out.createExclusive(path) || !out.write(entries[e].data.data(), entries[e].data.size())) {
            error = out.error();
            return false;
        }
        platform::UnixTime t{entries[e].modified, 0};
        out.setTimes(t, t);
        if (stopAfterSaves > 0 && static_cast<int>(savedPaths.size()) == stopAfterSaves) control.requestStop();
        return out.close();
    }

    std::vector<Entry> entries;
    std::vector<fs::EntryRef> top;
    std::vector<std::string> savedPaths;
    int stopAfterSaves = 0;  // > 0: request a stop after that many saves
};

// Feedback that records every call.
class RecordingFeedback : public Feedback {
public:
    void status(const std::string& t) override { statuses.push_back(t); }
    void detail(const std::string& t) override { details.push_back(t); }
    void progressRange(int64_t, int64_t high) override { rangeHigh = high; }
    void progressPosition(int64_t p) override { positions.push_back(p); }
    void message(const std::string& t) override { messages.push_back(t); }
    bool ask(const std::string& q) override {
        questions.push_back(q);
        return answer;
    }
    std::vector<std::string> statuses, details, messages, questions;
    std::vector<int64_t> positions;
    int64_t rangeHigh = -1;
    bool answer = true;
};

}  // namespace quenlow::test

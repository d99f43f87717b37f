// The raw recovery page's rules: runs kept with their own finds, the tree relayed change by
// change, saving finds of several runs without replacing a file, Save's refusals and the
// save report, settings files.

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <map>

#include "raw/SettingsFile.h"
#include "recovery/RawPage.h"
#include "support/MemoryDisk.h"
#include "support/RecordingFeedback.h"
#include "support/TempFolder.h"

using namespace quenlow;
using namespace quenlow::recovery;

namespace {

constexpr int64_t S = 512;

// 1 MiB with "AAAA" at sector 10 and "BBBB" at sector 40.
std::vector<unsigned char> volumeBytes() {
    std::vector<unsigned char> bytes(1 << 20, 0x11);
    std::fill_n(bytes.begin() + 10 * S, 4, 'A');
    std::fill_n(bytes.begin() + 40 * S, 4, 'B');
    return bytes;
}

struct RawPage : ::testing::Test {
    test::TempFolder temp;
    std::vector<unsigned char> bytes = volumeBytes();
    test::MemoryDisk disk{volumeBytes()};
    test::RecordingFeedback feedback;
    WorkControl control;
    RawRuns runs;
    const volumes::VolumeRecord volume{"RAW", "0", "1", 0};

    std::string settings(const std::string& name, const std::string& start, const std::string& approx) {
        raw::SignatureFields f;
        f.extension = name;
        f.startSignature = start;
        f.approximateSize = approx;
        f.category = "Cat";
        const std::string path = (temp / (name + ".set")).string();
        EXPECT_EQ(raw::appendSignatureRecord(path, f), raw::kRecordSavedText);
        return path;
    }
    RawRuns::Run& parse(const std::string& user, bool loadDefault = false, const std::string& defaultPath = "x") {
        RawRuns::Run& run = runs.add();
        RawRecovery::ParseOptions o;
        o.loadDefault = loadDefault;
        o.defaultPath = defaultPath;
        o.userPath = user;
        RawRuns::parse(run, o, disk, volume, feedback, control);
        return run;
    }
    std::string file(const std::string& rel) { return test::readAll(temp / ("out/" + rel)); }
    std::string slice(int64_t at, int64_t n) { return std::string(bytes.begin() + at, bytes.begin() + at + n); }
};

}  // namespace

TEST_F(RawPage, EveryRunSavesItsOwnFindsAndNothingIsReplaced) {
    // The tree as an observer rebuilds it from the relayed changes alone.
    fs::MemoryTree mirror;
    std::map<fs::TreeItem, fs::TreeItem> ids{{fs::kNoItem, fs::kNoItem}};
    RawRuns::Run& first = runs.add();
    first.tree.onChange = [&](const TreeChange& c) {
        if (c.kind == TreeChange::Kind::Insert) ids[c.item] = mirror.insertItem(ids.at(c.parent), c.text, c.folder, c.data);
        if (c.kind == TreeChange::Kind::SetText) mirror.setText(ids.at(c.item), c.text);
    };
    RawRecovery::ParseOptions o;
    o.loadDefault = false;
    o.defaultPath = "x";
    o.userPath = settings("aaa", "41,41,41,41", "1024");
    ASSERT_TRUE(RawRuns::parse(first, o, disk, volume, feedback, control));
    const fs::MemoryTree& own = first.tree.memory();
    const fs::TreeItem category = mirror.firstChild(mirror.root());
    EXPECT_EQ(mirror.text(mirror.root()), own.text(own.root()));
    EXPECT_EQ(mirror.text(category), "Cat (1)");
    EXPECT_EQ(mirror.text(mirror.firstChild(category)), "5120 .aaa");
    EXPECT_EQ(mirror.data(mirror.firstChild(category)), 1u);  // the find's index + 1

    // A second Parse with other types: the first run's find still saves its own bytes.
    RawRuns::Run& second = parse(settings("bbb", "42,42,42,42", "512"));
    ASSERT_EQ(second.raw.engine().found().size(), 1u);
    std::filesystem::create_directories(temp / "out/Cat");
    std::ofstream(temp / "out/Cat/5120.aaa") << "keep";
    RawSaveReport report = runs.save({{0, 0}, {1, 0}, {0, 0}}, (temp / "out").string(), feedback, control);
    EXPECT_EQ(report.saved, 3u);
    EXPECT_TRUE(report.complete());
    EXPECT_EQ(file("Cat/5120.aaa"), "keep");
    EXPECT_EQ(file("Cat/5120 (2).aaa"), slice(10 * S, 1024));
    EXPECT_EQ(file("Cat/5120 (3).aaa"), slice(10 * S, 1024));
    EXPECT_EQ(file("Cat/20480.bbb"), slice(40 * S, 512));
    ASSERT_EQ(report.renamed.size(), 2u);
    EXPECT_EQ(report.renamed[0].what, "saved as Cat/5120 (2).aaa");
    EXPECT_EQ(report.text("out", 1).find("3 file(s) saved into out.\n2 saved under another name"), 0u);
    EXPECT_NE(report.text("out", 1).find("... and 1 more"), std::string::npos);
    EXPECT_EQ(feedback.positions.back(), 3);
}

TEST_F(RawPage, RefusalsStopsDamageAndUnusableFolders) {
    struct Case {
        bool busy;
        size_t checked;
        std::string answer;
    };
    for (const Case& c : {Case{true, 0, kRawBusyText}, Case{true, 3, kRawBusyText},
                          Case{false, 0, kRawNothingCheckedText}, Case{false, 2, ""}})
        EXPECT_EQ(rawSaveRefusal(c.busy, c.checked), c.answer) << c.busy << c.checked;

    disk.badSectors = {11};
    parse(settings("aaa", "41,41,41,41", "1024"));
    RawSaveReport damaged = runs.save({{0, 0}}, (temp / "out").string(), feedback, control);
    ASSERT_EQ(damaged.damaged.size(), 1u);
    EXPECT_EQ(damaged.damaged[0].what, "Cat/5120.aaa: bytes 512-1023");
    EXPECT_TRUE(damaged.complete());  // saved, and said to be damaged
    EXPECT_NE(damaged.text("out").find("written as zeros:\n  5120 .aaa: Cat/5120.aaa: bytes 512-1023"), std::string::npos);

    std::ofstream(temp / "plain") << "x";
    RawSaveReport unusable = runs.save({{0, 0}}, (temp / "plain").string(), feedback, control);
    EXPECT_FALSE(unusable.error.empty());
    EXPECT_EQ(unusable.text("plain").find("Nothing was saved: "), 0u);

    control.requestStop();
    RawSaveReport stopped = runs.save({{0, 0}, {0, 0}}, (temp / "out").string(), feedback, control);
    EXPECT_EQ(stopped.saved, 0u);
    EXPECT_EQ(stopped.notSaved, 2u);
    EXPECT_FALSE(stopped.complete());
    EXPECT_FALSE(std::filesystem::exists(temp / "out/Cat/5120 (2).aaa"));
}

TEST_F(RawPage, SettingsFilesOpenedKeptRefusedAndLoadedOnce) {
    const std::string path = settings("aaa", "41,41,41,41", "1024");
    std::string error;
    EXPECT_TRUE(openSettingsFile(path, error));
    EXPECT_EQ(std::filesystem::file_size(path), 171u);  // its record kept
    EXPECT_TRUE(openSettingsFile((temp / "new.set").string(), error));
    EXPECT_TRUE(std::filesystem::exists(temp / "new.set"));
    EXPECT_FALSE(openSettingsFile(temp.str(), error));
    EXPECT_EQ(error.find(kSettingsNotCreatedText), 0u);

    // The default file named in the path field too is loaded once.
    EXPECT_EQ(parse(path, true, path).raw.engine().typeCount(), 1u);
    EXPECT_FALSE(runs[0].settingsRefused);
    std::ofstream(temp / "short.set") << std::string(170, 'x');
    RawRuns::Run& refused = parse((temp / "short.set").string());
    EXPECT_TRUE(refused.settingsRefused);
    EXPECT_EQ(feedback.messages.back().find(raw::kNotValidText), 0u);
    EXPECT_FALSE(parse("").settingsRefused);  // nothing to refuse: runs with no types
    EXPECT_TRUE(runs[2].raw.engine().found().empty());
}

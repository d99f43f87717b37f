#include <gtest/gtest.h>

#include "disk/RecoveryContext.h"
#include "recovery/AdvancedInput.h"
#include "recovery/RecoveryModeChoice.h"
#include "support/FakeVolume.h"
#include "support/RecordingFeedback.h"

using quenlow::WorkControl;
using quenlow::fs::CandidateChoice;
using quenlow::fs::CandidateSearch;
using quenlow::fs::Mode;
using quenlow::recovery::AdvancedInput;
using quenlow::recovery::RecoveryModeChoice;
using quenlow::test::RecordingFeedback;

namespace {

// A parser whose candidate search gives what the test sets.
class SearchingParser : public quenlow::test::FakeVolume {
public:
    quenlow::fs::Result<CandidateSearch> findCandidates(WorkControl&, quenlow::Feedback&, int64_t maximum) override {
        askedMaximum = maximum;
        return found;
    }
    CandidateSearch found;
    int64_t askedMaximum = 0;
};

std::string offers(const AdvancedInput& input) {
    std::string out;
    for (const auto& item : input.lists().sectorsPerCluster) out += (out.empty() ? "" : " ") + item.text;
    return out;
}

}  // namespace

TEST(RecoveryModeChoice, ModesFollowTheFileSystemPrefix) {
    struct Case {
        const char* fileSystem;
        bool advanced, deep;
    };
    for (const Case& c : {Case{"NTFS", true, true}, Case{"  FAT32", true, false}, Case{"FAT12", true, false},
                          Case{"exFat", true, false}, Case{"extX", false, false}, Case{"HFS+", false, true}}) {
        RecoveryModeChoice choice(c.fileSystem, nullptr);
        EXPECT_TRUE(choice.offers(Mode::Standard)) << c.fileSystem;
        EXPECT_EQ(choice.offers(Mode::Advanced), c.advanced) << c.fileSystem;
        EXPECT_EQ(choice.offers(Mode::Deep), c.deep) << c.fileSystem;
        EXPECT_EQ(choice.choose(Mode::Deep), c.deep) << c.fileSystem;
    }
}

TEST(RecoveryModeChoice, FormattedBoxOnlyWithAdvancedOnFatAndClearedByEveryChange) {
    quenlow::disk::RecoveryContext context;
    RecoveryModeChoice fat("FAT32", &context);
    EXPECT_FALSE(fat.setFormatted(true));
    ASSERT_TRUE(fat.choose(Mode::Advanced));
    EXPECT_TRUE(fat.showsMaximum());
    EXPECT_EQ(fat.maximumText, "3");
    ASSERT_TRUE(fat.setFormatted(true));
    EXPECT_TRUE(context.driveFormatted);
    EXPECT_EQ(fat.nextPage(), RecoveryModeChoice::NextPage::AdvancedInput);
    fat.choose(Mode::Standard);
    EXPECT_FALSE(context.driveFormatted);
    EXPECT_EQ(fat.nextPage(), RecoveryModeChoice::NextPage::Browse);

    RecoveryModeChoice exfat("exFAT", &context);  // its prefix is "exF", not "fat"
    exfat.choose(Mode::Advanced);
    EXPECT_FALSE(exfat.showsFormatted());
}

TEST(AdvancedInput, MaximumBoxAndKinds) {
    for (auto [text, value] : std::vector<std::pair<const char*, int64_t>>{
             {"3", 3}, {"", 3}, {"0", 3}, {"-5", 3}, {" 12abc", 12}, {"x", 3}})
        EXPECT_EQ(AdvancedInput::maximumFrom(text), value) << text;
    EXPECT_GT(AdvancedInput::maximumFrom("99999999999999999999999"), 0);  // bounded, never wrapped
    EXPECT_EQ(AdvancedInput::kindOf("NTFS"), AdvancedInput::Kind::Ntfs);
    EXPECT_EQ(AdvancedInput::kindOf("fat"), AdvancedInput::Kind::Fat16);
    EXPECT_EQ(AdvancedInput::kindOf("FAT64"), AdvancedInput::Kind::ExFat);
    EXPECT_EQ(AdvancedInput::kindOf("FAT12"), AdvancedInput::Kind::None);
}

TEST(AdvancedInput, ListsOffersAndMessagesPerFileSystem) {
    struct Case {
        const char* fileSystem;
        bool bootValid;
        int64_t bootSectors;
        const char* offers;
        const char* firstEntry;
        const char* messageStart;
    };
    for (const Case& c : {
             Case{"NTFS", true, 8, "8 4 2 16 32 64 1 128", "MFT_ENTRY:0", "Number of MFT-ENTRY found = 2 ."},
             Case{"FAT32", true, 1, "1 2 4 16 32 64 8 128", "FAT32_ENTRY:0", "Number of FAT32-ENTRY found = 2 ."},
             Case{"FAT32", false, 1, "2 4 16 32 64 8 1 128", "FAT32_ENTRY:0", "Number of FAT32-ENTRY found = 2 ."},
             Case{"FAT16", true, 3, "4 8 16 2 32 64 128 1", "FAT_ENTRY:0", "Number of FAT-ENTRY found = 2 ."},
             Case{"exFat", true, 64, "6 8 9 10 11 0 1 2 3 4 5 7", "FAT64_ENTRY:0",
                  "Number of FAT64-ENTRY found = 2 and Number of HeapOffset-ENTRY found =  1  ."},
         }) {
        SearchingParser parser;
        parser.found = {{1024, 8192}, {4096}, c.bootValid, c.bootSectors};
        AdvancedInput input(c.fileSystem);
        WorkControl control;
        RecordingFeedback feedback;
        input.run(parser, control, feedback, 0);
        EXPECT_EQ(parser.askedMaximum, 3);
        EXPECT_EQ(offers(input), c.offers) << c.fileSystem;
        ASSERT_EQ(input.lists().entries.size(), 2u);
        EXPECT_EQ(input.lists().entries[0].text, c.firstEntry);
        EXPECT_EQ(input.lists().entries[1].value, 8192);
        ASSERT_EQ(feedback.messages.size(), 1u);
        EXPECT_EQ(feedback.messages[0].rfind(c.messageStart, 0), 0u) << feedback.messages[0];
        EXPECT_EQ(feedback.statuses.back().rfind("Parsing done.Click ", 0), 0u);
    }
}

TEST(AdvancedInput, ChoicesOutOfRangeAreRefused) {
    SearchingParser parser;
    parser.found = {{1024, 8192}, {4096}, false, 0};
    AdvancedInput input("exFAT");
    WorkControl control;
    RecordingFeedback feedback;
    input.run(parser, control, feedback, 3);
    CandidateChoice choice;
    std::string error;
    EXPECT_TRUE(input.chooseSectors(0, 8, std::nullopt, choice, error)) << error;
    EXPECT_EQ(choice.heap, 0u);
    EXPECT_FALSE(input.chooseSectors(1, 8, std::nullopt, choice, error));  // no heap 1: --heap is needed
    EXPECT_TRUE(input.chooseSectors(1, 8, 0, choice, error)) << error;
    EXPECT_EQ(choice.entry, 1u);
    for (int64_t bad : {0, 3, -8, 131072}) EXPECT_FALSE(input.chooseSectors(0, bad, std::nullopt, choice, error)) << bad;
    EXPECT_FALSE(input.chooseSectors(2, 8, std::nullopt, choice, error));

    parser.found = {};
    AdvancedInput fat32("FAT32");
    RecordingFeedback none;
    fat32.run(parser, control, none, 3);
    EXPECT_EQ(none.messages, std::vector<std::string>{"NO FAT  FAT32-ENTRY found .."});
    EXPECT_FALSE(fat32.choose(0, 0, std::nullopt, choice, error));
    EXPECT_EQ(error, quenlow::recovery::kNoEntrySelectedText);
}

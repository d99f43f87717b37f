#include <gtest/gtest.h>

#include "recovery/VolumeChoice.h"

using quenlow::recovery::VolumeChoice;
using quenlow::volumes::VolumeRecord;
using Mode = VolumeChoice::ScanMode;
using Outcome = VolumeChoice::Outcome;

namespace {

VolumeRecord rec(const char* fs, const char* size, int64_t start) { return {fs, "", size, start}; }

std::vector<std::string> shown(const VolumeChoice& c) {
    std::vector<std::string> out;
    for (const auto& r : c.rows()) out.push_back(r.volume + "|" + r.fileSystem + "|" + r.volumeSize + "|" + r.startSector);
    return out;
}

using Rows = std::vector<std::string>;

VolumeChoice listed(std::vector<VolumeRecord> records) {
    VolumeChoice c(Mode::Standard);
    c.volumes() = std::move(records);
    c.showListing();
    return c;
}

}  // namespace

TEST(VolumeChoice, ListingNumbersRowsInTheOrderFound) {
    VolumeChoice c = listed({rec("NTFS", "100   MB", 2048), rec("FAT32", "50  MB", 206848)});
    EXPECT_EQ(shown(c), (Rows{"0|NTFS|100   MB|2048", "1|FAT32|50  MB|206848"}));
    EXPECT_EQ(c.findRow("1"), 1);
    EXPECT_EQ(c.findRow("2"), -1);

    VolumeChoice scan(Mode::Advanced);
    for (int i = 0; i < 3; ++i) {
        VolumeRecord r = rec("NTFS", "1   MB", 100 * i);
        r.volumeNumber = std::to_string(i);
        scan.volumes().push_back(r);
        scan.addScannedRow(r);
    }
    EXPECT_EQ(shown(scan), (Rows{"2|NTFS|1   MB|200", "1|NTFS|1   MB|100", "0|NTFS|1   MB|0"}));
    EXPECT_EQ(scan.findRow("0"), 2);
}

TEST(VolumeChoice, FilterKeepsRecordsStartingOneAfterThePrevious) {
    VolumeChoice c = listed({rec("NTFS", "1   MB", 63), rec("NTFS", "1   MB", 64), rec("NTFS", "1   MB", 2048)});
    c.filter();
    EXPECT_EQ(shown(c), (Rows{"1|NTFS|1   MB|64"}));
    VolumeChoice one = listed({rec("NTFS", "1   MB", 63)});
    one.filter();
    EXPECT_TRUE(one.rows().empty());
    // Kept rows come newest on top.
    VolumeChoice run = listed({rec("A", "1", 10), rec("B", "1", 11), rec("C", "1", 12)});
    run.filter();
    EXPECT_EQ(shown(run), (Rows{"2|C|1|12", "1|B|1|11"}));
}

TEST(VolumeChoice, SelectingARowFillsTheCustomSectors) {
    VolumeChoice c = listed({rec("NTFS", "100   MB", 2048), rec("Unknown", "0   MB", 63), rec("extX", "5", 9)});
    c.clickRow(0);
    EXPECT_EQ(c.startText, "2048");
    EXPECT_EQ(c.endText, std::to_string(2048 + 100 * 2048 - 1));
    EXPECT_EQ(c.fileSystemEntry, "NTFS");
    c.clickRow(1);
    EXPECT_EQ(c.endText, "0");
    EXPECT_EQ(c.fileSystemEntry, "NTFS");  // no entry begins with "Unknown": no change
    c.clickRow(2);
    EXPECT_EQ(c.fileSystemEntry, "EXTX");
    EXPECT_FALSE(c.selectRow(3));
}

TEST(VolumeChoice, NextChecksTheChoice) {
    VolumeChoice c = listed({rec("NTFS", "100   MB", 2048), rec("Unknown", "3   MB", 63)});
    EXPECT_EQ(c.next().message, "please select a valid volume.");
    c.clickRow(1);
    auto unknown = c.next();
    EXPECT_EQ(unknown.outcome, Outcome::Stay);
    EXPECT_EQ(unknown.message, "can not parse unknown volume");
    c.clickRow(0);
    EXPECT_EQ(c.next().outcome, Outcome::RecoveryMode);
    EXPECT_EQ(c.selectedVolume()->volumeSizeText, "100   MB");
}

TEST(VolumeChoice, CustomSettingsOverrideStartSizeAndFileSystem) {
    VolumeChoice c = listed({rec("Unknown", "3   MB", 63)});
    c.clickRow(0);
    c.customSettings = true;
    c.startText = "2048";
    c.endText = "4095";
    c.fileSystemEntry = "FAT32";
    EXPECT_EQ(c.next().outcome, Outcome::RecoveryMode);  // an unknown row parsed as FAT32
    EXPECT_EQ(c.selectedVolume()->fileSystem, "fat32");
    EXPECT_EQ(c.selectedVolume()->volumeSizeText, "1");
    EXPECT_EQ(c.selectedVolume()->startSector, 2048);
    c.endText = "100";
    c.fileSystemEntry = "EXTX";
    c.next();
    EXPECT_EQ(c.selectedVolume()->volumeSizeText, "0");
    EXPECT_EQ(c.selectedVolume()->fileSystem, "extX");
    c.endText = "9223372036854775807";
    c.startText = "0";
    c.next();
    EXPECT_EQ(c.selectedVolume()->volumeSizeText, std::to_string(INT64_MAX / 2048 + 1));
    for (const char* typed : {"2k", "", "99999999999999999999"}) {
        c.startText = typed;
        const auto refused = c.next();
        EXPECT_EQ(refused.outcome, Outcome::Stay) << typed;
        EXPECT_EQ(refused.message.rfind("Start Sector: \"" + std::string(typed) + "\" is not a number", 0), 0u);
    }
    c.startText = " 0 ";

    // Custom settings off again: the record as its row shows it, without "MB".
    c.customSettings = false;
    EXPECT_EQ(c.next().message, "can not parse unknown volume");
    EXPECT_EQ(c.selectedVolume()->volumeSizeText, "3");
    EXPECT_EQ(c.selectedVolume()->startSector, 63);
}

TEST(VolumeChoice, RawGoesToRawRecoveryWhateverTheRow) {
    VolumeChoice c = listed({rec("Unknown", "3   MB", 63)});
    c.clickRow(0);
    c.customSettings = true;
    c.fileSystemEntry = VolumeChoice::entryNamed("raw");
    auto r = c.next();
    EXPECT_EQ(r.outcome, Outcome::RawRecovery);
    EXPECT_EQ(c.selectedVolume()->fileSystem, "RAW");
}

TEST(VolumeChoice, CustomVolumeIsAddedAtTheEndOrOnTop) {
    VolumeChoice c = listed({rec("NTFS", "1   MB", 63)});
    int row = c.addCustomVolume();
    EXPECT_EQ(row, 1);
    EXPECT_EQ(shown(c).back(), "1|CUSTOM |0|0");
    EXPECT_TRUE(c.customSettings);
    EXPECT_EQ(c.startText, "0");
    EXPECT_EQ(c.endText, "0");
    c.startText = "2048";
    c.endText = "4095";
    c.fileSystemEntry = "NTFS";
    EXPECT_EQ(c.next().outcome, Outcome::RecoveryMode);
    EXPECT_EQ(c.selectedVolume()->fileSystem, "ntfs");

    VolumeChoice scan(Mode::Advanced);
    VolumeRecord r = rec("NTFS", "1   MB", 63);
    r.volumeNumber = "0";
    scan.volumes().push_back(r);
    scan.addScannedRow(r);
    EXPECT_EQ(scan.addCustomVolume(), 0);
    EXPECT_EQ(shown(scan).front(), "1|CUSTOM |0|0");
    EXPECT_EQ(scan.selectedRow(), 0);
}

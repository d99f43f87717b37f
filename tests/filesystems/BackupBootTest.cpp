// A volume whose boot sector is wiped is read through its file system's own backup copy
// (NTFS: the last sector, FAT32: sector 6, exFAT: sector 12) and saves every live file as
// before; with the backup wiped too it is refused as before.

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <nlohmann/json.hpp>

#include "filesystems/MemoryTree.h"
#include "filesystems/ParserRegistry.h"
#include "support/MemoryDisk.h"
#include "support/ParserHarness.h"
#include "support/RecordingFeedback.h"
#include "support/Sha256.h"

using namespace quenlow;

namespace {

struct Case {
    const char* folder;
    const char* image;
    const char* fileSystem;
    int64_t backupSector;  // where the copy lies; < 0: counted from the volume's end
    bool refusedWithoutBoth;  // NTFS instead scans for the $MFT's record
};

std::vector<unsigned char> readImage(const std::filesystem::path& path) {
    std::ifstream in(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

void wipeSector(std::vector<unsigned char>& bytes, int64_t sector) {
    const size_t at = static_cast<size_t>(sector < 0 ? static_cast<int64_t>(bytes.size()) / 512 + sector : sector) * 512;
    std::fill(bytes.begin() + static_cast<std::ptrdiff_t>(at), bytes.begin() + static_cast<std::ptrdiff_t>(at + 512), 0);
}

}  // namespace

TEST(BackupBoot, AWipedBootSectorIsReadFromItsBackup) {
    const Case cases[] = {{"ntfs512", "ntfs512.img", "NTFS", -1, false},
                          {"fat/fat32", "fat32.img", "FAT32", 6, true},
                          {"exfat", "exfat.img", "FAT64", 12, true}};
    for (const Case& c : cases) {
        SCOPED_TRACE(c.fileSystem);
        const std::filesystem::path dir = std::filesystem::path(QUENLOW_FIXTURE_DIR) / c.folder;
        std::vector<unsigned char> bytes = readImage(dir / c.image);
        ASSERT_FALSE(bytes.empty());
        wipeSector(bytes, 0);
        volumes::VolumeRecord volume;
        volume.fileSystem = c.fileSystem;
        volume.volumeSizeText = std::to_string(bytes.size() >> 20) + "   MB";
        const fs::ParserInfo* info = fs::findParser(c.fileSystem);
        ASSERT_NE(info, nullptr);

        for (bool backupToo : {false, true}) {
            if (backupToo) wipeSector(bytes, c.backupSector);
            test::MemoryDisk disk(bytes);
            fs::MemoryTree tree;
            auto parser = info->create(test::setupOn(disk, volume, tree));
            test::RecordingFeedback feedback;
            const bool parsed = test::parseIn(*parser, feedback).status.ok();
            EXPECT_EQ(parsed, !backupToo || !c.refusedWithoutBoth);
            EXPECT_EQ(feedback.sawMessage(fs::kBackupBootText), !backupToo);
            if (backupToo) continue;

            std::map<std::string, fs::EntryRef> live;
            std::vector<std::pair<fs::EntryRef, std::string>> walk;
            for (fs::EntryRef e : parser->firstLevel()) walk.emplace_back(e, parser->name(e));
            while (!walk.empty() && live.size() < 10000) {
                auto [e, path] = walk.back();
                walk.pop_back();
                if (parser->isDeleted(e)) continue;
                live.emplace(path, e);
                if (parser->isFolder(e))
                    for (fs::EntryRef k = parser->firstChild(e); k != fs::kNoEntry; k = parser->nextSibling(k))
                        walk.emplace_back(k, path + "/" + parser->name(k));
            }
            std::ifstream in(dir / "manifest.json");
            const nlohmann::json manifest = nlohmann::json::parse(in);
            int files = 0;
            for (const auto& e : manifest["entries"]) {
                if (e["is_folder"].get<bool>()) continue;
                ++files;
                const auto it = live.find(e["path"].get<std::string>());
                ASSERT_NE(it, live.end()) << e["path"];
                EXPECT_EQ(test::Sha256::of(test::readData(*parser, it->second)), e["sha256"]) << e["path"];
            }
            EXPECT_GT(files, 3);
        }
    }
}

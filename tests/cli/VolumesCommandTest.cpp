// quenlow volumes on the partitioned fixture disks, and the volume selection every later
// command shares.

#include <gtest/gtest.h>

#include <csignal>
#include <fcntl.h>
#include <nlohmann/json.hpp>
#include <spawn.h>
#include <sys/wait.h>
#include <thread>

#include "cli/CliContext.h"
#include "cli/VolumeSelection.h"
#include "support/RunCli.h"
#include "support/TempFolder.h"
#include "support/ArrayBuilder.h"

using namespace quenlow;
using quenlow::test::runCli;

namespace {

const std::string kDisks = std::string(QUENLOW_FIXTURE_DIR) + "/disks";
const std::string kMbr = kDisks + "/mbr/disk.img";
const std::string kGpt = kDisks + "/gpt/disk.img";

std::vector<std::string> withImage(const std::string& image, std::vector<std::string> args) {
    std::vector<std::string> all{"-m", image, "-l", "0"};
    all.insert(all.end(), args.begin(), args.end());
    return all;
}

}  // namespace

TEST(VolumesCommand, ListsTheMbrDisk) {
    auto r = runCli(withImage(kMbr, {"volumes"}));
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(r.out,
              "VOLUME  FILE_SYSTEM  VOLUME_SIZE  START_SECTOR\n"
              "0       NTFS         16   MB      2048\n"
              "1       FAT16        16   MB      34816\n"
              "2       FAT32        34   MB      69632\n"
              "3       FAT64        8   MB       141312\n"
              "4       extX         16   MB      159744\n");
}

TEST(VolumesCommand, GptAsJson) {
    auto r = runCli(withImage(kGpt, {"volumes", "--gpt", "--json"}));
    ASSERT_EQ(r.status, 0) << r.err;
    auto list = nlohmann::json::parse(r.out);
    ASSERT_EQ(list.size(), 5u);
    EXPECT_EQ(list[0], (nlohmann::json{{"volume", "0"}, {"file_system", "NTFS"}, {"volume_size", "15   MB"}, {"start_sector", 10240},
                                       {"row", 0}, {"size_mib", 15}, {"size_sectors", 15 * 2048}, {"size_bytes", 15 << 20}}));
    EXPECT_EQ(list[3]["file_system"], "Linux filesystem");
    EXPECT_EQ(list[3]["volume_size"], "15");
    EXPECT_EQ(list[4]["file_system"], "HFS+");
}

TEST(VolumesCommand, ScanOfARaid5ArrayNewestOnTopAndFiltered) {
    auto built = test::ArrayBuilder::raid5(3, 3, 128).buildFromFile(kMbr);
    const auto& members = built.memberPaths;
    std::vector<std::string> array{"-m", members[0], "-m", "MISSING", "-m", members[2], "-l", "5", "--layout", "3"};
    auto args = array;
    args.insert(args.end(), {"volumes", "--scan"});
    auto r = runCli(args);
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(r.out,
              "VOLUME  FILE_SYSTEM  VOLUME_SIZE  START_SECTOR\n"
              "3       FAT64        8  MB        141312\n"
              "2       FAT32        34  MB       69632\n"
              "1       FAT16        16  MB       34816\n"
              "0       NTFS         15   MB      2048\n");
    // Without the skip the NTFS backup boot sector at 34815 is found; Filter keeps the
    // FAT16 volume that starts right after it.
    args.insert(args.end(), {"--no-skip", "--filter", "--json"});
    r = runCli(args);
    ASSERT_EQ(r.status, 0) << r.err;
    auto list = nlohmann::json::parse(r.out);
    ASSERT_EQ(list.size(), 1u);
    EXPECT_EQ(list[0]["start_sector"], 34816);
    EXPECT_EQ(list[0]["volume"], "2");
}

TEST(VolumesCommand, ScanRangeAndUsageErrors) {
    auto r = runCli(withImage(kMbr, {"volumes", "--scan", "--start", "30000", "--end", "70000", "--json"}));
    ASSERT_EQ(r.status, 0) << r.err;
    auto list = nlohmann::json::parse(r.out);
    ASSERT_EQ(list.size(), 2u);
    EXPECT_EQ(list[1]["start_sector"], 34815);  // the first NTFS volume's backup boot sector
    EXPECT_EQ(list[0]["start_sector"], 69632);
    EXPECT_EQ(runCli(withImage(kMbr, {"volumes", "--no-skip"})).status, 2);
    EXPECT_EQ(runCli(withImage(kMbr, {"volumes", "--scan", "--start", "-5"})).status, 2);
    EXPECT_EQ(runCli({"-m", "/nonexistent/disk.img", "-l", "0", "volumes"}).status, 1);
}

TEST(VolumesCommand, CtrlCStopsTheScanAndPrintsWhatWasFound) {
    // A sparse 64 GiB image with one NTFS boot sector near its start.
    test::TempFolder dir;
    std::string image = (dir.path() / "big.img").string();
    {
        std::ofstream out(image, std::ios::binary);
        unsigned char boot[512] = {0xEB, 0x52, 0x90, 'N', 'T', 'F', 'S', ' ', ' ', ' ', ' '};
        boot[12] = 2;      // 512 bytes per sector
        boot[41] = 0x10;   // 4096 sectors
        out.seekp(100 * 512);
        out.write(reinterpret_cast<const char*>(boot), sizeof boot);
    }
    std::filesystem::resize_file(image, 64ull << 30);
    std::string outFile = (dir.path() / "out.txt").string();
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, 1, outFile.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    posix_spawn_file_actions_addopen(&actions, 2, "/dev/null", O_WRONLY, 0);
    std::string cli = test::cliPath();
    std::vector<std::string> args{cli, "-m", image, "-l", "0", "volumes", "--scan"};
    std::vector<char*> argv;
    for (auto& a : args) argv.push_back(a.data());
    argv.push_back(nullptr);
    pid_t pid = 0;
    ASSERT_EQ(posix_spawn(&pid, cli.c_str(), &actions, nullptr, argv.data(), environ), 0);
    posix_spawn_file_actions_destroy(&actions);
    std::this_thread::sleep_for(std::chrono::milliseconds(1500));
    ::kill(pid, SIGINT);
    int status = 0;
    ::waitpid(pid, &status, 0);
    ASSERT_TRUE(WIFEXITED(status));
    EXPECT_EQ(WEXITSTATUS(status), 0);
    std::ifstream in(outFile);
    std::string text((std::istreambuf_iterator<char>(in)), {});
    EXPECT_EQ(text,
              "VOLUME  FILE_SYSTEM  VOLUME_SIZE  START_SECTOR\n"
              "0       NTFS         2   MB       100\n");
}

namespace {

struct Selected {
    bool ok = false;
    int status = 0;
    volumes::VolumeRecord record;
};

Selected select(const std::string& image, const cli::VolumeSelectionOptions& o) {
    cli::CliContext context;
    context.array.members = {image};
    context.array.level = 0;
    Selected s;
    s.ok = cli::selectVolume(context, o, s.record);
    s.status = context.exitStatus;
    return s;
}

std::string text(const volumes::VolumeRecord& r) {
    return r.fileSystem + "|" + r.volumeSizeText + "|" + std::to_string(r.startSector);
}

}  // namespace

TEST(VolumeSelection, RowNumbersOfTheListing) {
    cli::VolumeSelectionOptions o;
    o.volume = "1";
    EXPECT_EQ(text(select(kMbr, o).record), "FAT16|16   MB|34816");
    o.listing.scan = true;
    o.volume = "3";
    EXPECT_EQ(text(select(kMbr, o).record), "FAT64|8  MB|141312");
    o.volume = "9";
    auto missing = select(kMbr, o);
    EXPECT_FALSE(missing.ok);
    EXPECT_EQ(missing.status, cli::kExitUsage);
    // The protective MBR of a GPT disk is an unknown volume.
    cli::VolumeSelectionOptions unknown;
    unknown.volume = "0";
    auto u = select(kGpt, unknown);
    EXPECT_FALSE(u.ok);
    EXPECT_EQ(u.status, cli::kExitFailed);
}

TEST(VolumeSelection, CustomVolumesAndCustomSettings) {
    cli::VolumeSelectionOptions custom;
    custom.customStart = 2048;
    custom.listing.end = 4095;
    custom.customFs = "NTFS";
    EXPECT_EQ(text(select(kMbr, custom).record), "ntfs|1|2048");
    custom.customFs = "";
    EXPECT_EQ(select(kMbr, custom).status, cli::kExitUsage);
    custom.customFs = "zfs";
    EXPECT_EQ(select(kMbr, custom).status, cli::kExitUsage);

    // A row with only a new start keeps the end its size gives, and its file system.
    cli::VolumeSelectionOptions row;
    row.volume = "0";
    row.customStart = 4096;
    EXPECT_EQ(text(select(kMbr, row).record), "ntfs|15|4096");
    // An unknown row parsed as FAT32; RAW goes to raw recovery whatever the row.
    cli::VolumeSelectionOptions gpt;
    gpt.volume = "0";
    gpt.customFs = "fat32";
    EXPECT_EQ(text(select(kGpt, gpt).record), "fat32|81|1");
    gpt.customFs = "raw";
    EXPECT_EQ(select(kGpt, gpt).record.fileSystem, "RAW");
}

// The partitioned disks made by real tools, read through the RAID virtual disk: the listing
// agrees with what mmls reports for the same disks, and the scan finds every volume of a
// file system it knows at the start the layout gives.

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <nlohmann/json.hpp>
#include <regex>

#include "disk/FileReadSeekRaid.h"
#include "support/ArrayBuilder.h"
#include "disk/RecoveryContext.h"
#include "volumes/Partition.h"

using namespace quenlow;
using nlohmann::json;
using volumes::Partition;
using volumes::VolumeRecord;
namespace fsys = std::filesystem;

namespace {

const fsys::path kDisks = fsys::path(QUENLOW_FIXTURE_DIR) / "disks";

struct MmlsRow {
    int64_t start, length;
    std::string description;
};

// The partition rows of mmls.txt (slot "NNN:NNN" or "NNN"), Meta and unallocated rows left out.
std::vector<MmlsRow> mmlsPartitions(const fsys::path& file) {
    std::ifstream in(file);
    std::vector<MmlsRow> rows;
    std::regex row(R"(^\d+:\s+(\d+(:\d+)?)\s+(\d+)\s+(\d+)\s+(\d+)\s+(.*)$)");
    for (std::string line; std::getline(in, line);) {
        std::smatch m;
        if (std::regex_match(line, m, row)) rows.push_back({std::stoll(m[3]), std::stoll(m[5]), m[6]});
    }
    return rows;
}

json layoutOf(const fsys::path& dir) {
    std::ifstream in(dir / "layout.json");
    return json::parse(in);
}

// A disk image as a virtual disk: the image itself (a one-member RAID-0), or striped into
// a RAID-0 of three members or a RAID-5 of three members.
enum class Assembly { Whole, Raid0, Raid5 };
const Assembly kAssemblies[] = {Assembly::Whole, Assembly::Raid0, Assembly::Raid5};

struct Array {
    Array(const fsys::path& image, Assembly how) : raid(&context) {
        raid.level = 0;
        if (how == Assembly::Whole) {
            raid.memberNames = {image.string()};
        } else {
            auto builder = how == Assembly::Raid0 ? test::ArrayBuilder::raid0(3, 128) : test::ArrayBuilder::raid5(3, 3, 64);
            built = builder.buildFromFile(image.string());
            raid.level = how == Assembly::Raid0 ? 0 : 5;
            raid.parityLayout = 3;
            raid.stripeSectors = how == Assembly::Raid0 ? 128 : 64;
            raid.memberNames = built.memberPaths;
        }
        EXPECT_TRUE(raid.open()) << raid.lastError();
    }
    test::BuiltArray built;
    disk::RecoveryContext context;
    disk::FileReadSeekRaid raid;
};

const char* nameOf(Assembly how) { return how == Assembly::Whole ? "image" : how == Assembly::Raid0 ? "RAID-0" : "RAID-5"; }

std::vector<VolumeRecord> listed(disk::readWriteInterface& d, bool gpt) {
    std::vector<VolumeRecord> v;
    Partition finder(d, v);
    finder.gptFormat = gpt ? 1 : 0;
    EXPECT_EQ(finder.listPartitions(), 0);
    return v;
}

std::vector<VolumeRecord> scanned(disk::FileReadSeekRaid& d, bool skip) {
    std::vector<VolumeRecord> v;
    Partition finder(d, v);
    finder.skipVolumeSize = skip ? 1 : 0;
    finder.totalSectors = d.totalSectors();
    EXPECT_EQ(finder.scanVolumes(), 1);
    return v;
}

std::string nameFor(const std::string& layoutFs) {
    if (layoutFs == "exFAT") return "FAT64";
    if (layoutFs == "ext4") return "extX";
    return layoutFs;
}

}  // namespace

TEST(FixtureDisks, MbrListingAgreesWithMmls) {
    for (Assembly how : kAssemblies) {
        SCOPED_TRACE(nameOf(how));
        Array array(kDisks / "mbr" / "disk.img", how);
        auto records = listed(array.raid, false);
        std::vector<MmlsRow> rows;
        for (const auto& r : mmlsPartitions(kDisks / "mbr" / "mmls.txt"))
            if (r.description.find("Extended") == std::string::npos) rows.push_back(r);
        ASSERT_EQ(records.size(), rows.size());
        json layout = layoutOf(kDisks / "mbr");
        std::vector<json> volumes;
        for (const auto& p : layout["partitions"])
            if (p["fs"] != "extended") volumes.push_back(p);
        ASSERT_EQ(volumes.size(), records.size());
        for (size_t i = 0; i < records.size(); ++i) {
            EXPECT_EQ(records[i].volumeNumber, std::to_string(i));
            EXPECT_EQ(records[i].startSector, rows[i].start);
            EXPECT_EQ(records[i].volumeSizeText, std::to_string(rows[i].length / 2048) + "   MB");
            // The type byte says FAT16 or NTFS; type 7 holding exFAT is told by its boot sector.
            EXPECT_EQ(records[i].fileSystem, nameFor(volumes[i]["fs"])) << i;
        }
    }
}

TEST(FixtureDisks, GptListingAgreesWithMmls) {
    for (Assembly how : kAssemblies) {
        SCOPED_TRACE(nameOf(how));
        Array array(kDisks / "gpt" / "disk.img", how);
        auto records = listed(array.raid, true);
        std::vector<MmlsRow> rows;
        for (const auto& r : mmlsPartitions(kDisks / "gpt" / "mmls.txt"))
            if (r.description != "Microsoft reserved partition") rows.push_back(r);
        json layout = layoutOf(kDisks / "gpt");
        std::vector<json> volumes;
        for (const auto& p : layout["partitions"])
            if (p["fs"] != "MSR") volumes.push_back(p);
        ASSERT_EQ(records.size(), rows.size());
        ASSERT_EQ(records.size(), volumes.size());
        for (size_t i = 0; i < records.size(); ++i) {
            EXPECT_EQ(records[i].startSector, rows[i].start);
            std::string fs = volumes[i]["fs"];
            if (fs == "ext4") {
                // Neither NTFS nor FAT: listed by its entry name, its size in whole MiB, no unit.
                EXPECT_EQ(records[i].fileSystem, rows[i].description);
                EXPECT_EQ(records[i].volumeSizeText, std::to_string((rows[i].length - 1) / 2048));
            } else if (fs == "HFS+") {
                EXPECT_EQ(records[i].fileSystem, "HFS+");
                EXPECT_EQ(records[i].volumeSizeText, std::to_string((rows[i].length - 1) / 2048));
            } else {
                EXPECT_EQ(records[i].fileSystem, nameFor(fs));
                int64_t mib = std::stoll(records[i].volumeSizeText);
                EXPECT_TRUE(mib == rows[i].length / 2048 || mib == rows[i].length / 2048 - 1) << records[i].volumeSizeText;
            }
        }
        // The same disk read through its protective MBR.
        auto mbr = listed(array.raid, false);
        ASSERT_EQ(mbr.size(), 1u);
        EXPECT_EQ(mbr[0].fileSystem, "Unknown");
        EXPECT_EQ(mbr[0].startSector, 1);
    }
}

TEST(FixtureDisks, ScanFindsTheVolumesTheLayoutGives) {
    for (Assembly how : kAssemblies) {
        for (const char* scheme : {"mbr", "gpt"}) {
            SCOPED_TRACE(std::string(scheme) + " " + nameOf(how));
            Array array(kDisks / scheme / "disk.img", how);
            disk::FileReadSeekRaid* raid = &array.raid;
            const json layout = layoutOf(kDisks / scheme);
            std::vector<std::pair<int64_t, std::string>> expected;
            for (const auto& p : layout["partitions"]) {
                std::string fs = p["fs"];
                // The HFS+ volume xorriso made is 88 KiB, below the 1 MiB a scan lists.
                if (fs == "NTFS" || fs == "FAT16" || fs == "FAT32" || fs == "exFAT")
                    expected.push_back({p["start"].get<int64_t>(), nameFor(fs)});
            }
            std::vector<std::pair<int64_t, std::string>> found;
            for (const auto& r : scanned(*raid, true)) found.push_back({r.startSector, r.fileSystem});
            EXPECT_EQ(found, expected);

            // Without the skip the scan reads every sector of the volumes full of files: it
            // finds their backup boot sectors too, and nothing else.
            for (const auto& r : scanned(*raid, false)) {
                bool atStart = std::any_of(expected.begin(), expected.end(), [&](auto& e) { return e.first == r.startSector; });
                bool backup = false;
                for (const auto& p : layout["partitions"]) {
                    int64_t start = p["start"], sectors = p["sectors"];
                    std::string fs = p["fs"];
                    if (fs == "NTFS" && r.startSector == start + sectors - 1) backup = true;
                    if (fs == "FAT32" && r.startSector == start + 6) backup = true;
                    if (fs == "exFAT" && r.startSector == start + 12) backup = true;
                }
                EXPECT_TRUE(atStart || backup) << r.fileSystem << " at " << r.startSector;
            }
        }
    }
}

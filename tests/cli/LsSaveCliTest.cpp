// `quenlow ls` and `quenlow save` on the NTFS fixture striped into real member files.

#include <sys/stat.h>
#include <sys/wait.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <gtest/gtest.h>
#include <map>
#include <nlohmann/json.hpp>
#include <set>

#include "support/ArrayBuilder.h"
#include "support/RunCli.h"
#include "support/Sha256.h"
#include "support/TempFolder.h"

namespace fsys = std::filesystem;
using namespace quenlow::test;

namespace {

const std::string kFixtures = QUENLOW_FIXTURE_DIR;
const std::string kFixture = kFixtures + "/ntfs";

std::vector<unsigned char> fixtureImage(const std::string& name = "ntfs") {
    std::ifstream in(kFixtures + "/" + name + "/" + name + ".img", std::ios::binary);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

nlohmann::json manifest(const std::string& name = "ntfs") {
    std::ifstream in(kFixtures + "/" + name + "/manifest.json");
    return nlohmann::json::parse(in);
}

// Array options for the members, with member `missing` (if >= 0) given as MISSING.
std::vector<std::string> arrayArgs(const BuiltArray& array, int level, int missing) {
    std::vector<std::string> args;
    for (size_t i = 0; i < array.memberPaths.size(); ++i) {
        args.push_back("-m");
        args.push_back(static_cast<int>(i) == missing ? "MISSING" : array.memberPaths[i]);
    }
    args.insert(args.end(), {"-l", std::to_string(level), "-s", "128"});
    if (level == 5) args.insert(args.end(), {"--layout", "3"});
    return args;
}

std::vector<std::string> with(std::vector<std::string> a, const std::vector<std::string>& more) {
    a.insert(a.end(), more.begin(), more.end());
    return a;
}

// The files of `out` that differ from the manifest's bytes or modification time; every live
// folder must exist.
std::set<std::string> mismatches(const fsys::path& out, const nlohmann::json& entries, int& files,
                                 const std::map<std::string, std::string>& renamed = {}) {
    std::set<std::string> bad;
    for (const auto& e : entries) {
        std::string path = e["path"].get<std::string>();
        auto r = renamed.find(path);
        fsys::path p = out / (r == renamed.end() ? path : r->second);
        if (e["is_folder"].get<bool>()) {
            EXPECT_TRUE(fsys::is_directory(p)) << p;
            continue;
        }
        ++files;
        struct stat st {};
        if (::stat(p.c_str(), &st) != 0 || !S_ISREG(st.st_mode) ||
            static_cast<uint64_t>(st.st_size) != e["size"].get<uint64_t>() ||
            Sha256::ofFile(p.string()) != e["sha256"].get<std::string>() ||
            st.st_mtim.tv_sec != e["mtime_sec"].get<int64_t>() ||
            st.st_mtim.tv_nsec != e["mtime_nsec"].get<int64_t>())
            bad.insert(path);
    }
    return bad;
}

void expectMatchesManifest(const fsys::path& out) {
    const nlohmann::json m = manifest();
    int files = 0;
    for (const std::string& p : mismatches(out, m["entries"], files)) ADD_FAILURE() << p << " does not match the manifest";
    EXPECT_GT(files, 400);
    // Deleted files are saved too, from what their clusters still hold; the deleted one of
    // the duplicate name beside the live one.
    int deleted = 0;
    auto bad = mismatches(out, m["deleted"], deleted, {{"dup/same.txt", "dup/same (deleted 1).txt"}});
    EXPECT_TRUE(bad.empty()) << *bad.begin();
    EXPECT_EQ(deleted, 5);
}

class CliOnArrays : public ::testing::TestWithParam<int> {};

}  // namespace

TEST_P(CliOnArrays, SaveEverythingMatchesTheManifest) {
    int level = GetParam();
    BuiltArray array = level == 0 ? ArrayBuilder::raid0(2, 128).build(fixtureImage())
                                  : ArrayBuilder::raid5(3, 3, 128).build(fixtureImage());
    auto args = arrayArgs(array, level, level == 5 ? 1 : -1);
    TempFolder out;
    CliResult save = runCli(with(args, {"save", "0", "--scan", "/", "--out", out.str(), "--yes"}));
    EXPECT_EQ(save.status, 0) << save.out;
    expectMatchesManifest(out.path());
    // Both files of the duplicate name are kept: the live one under its own name.
    EXPECT_TRUE(fsys::exists(out / "dup/same.txt"));
    EXPECT_TRUE(fsys::exists(out / "dup/same (deleted 1).txt"));
    EXPECT_FALSE(fsys::exists(out / "$BadClus"));
    EXPECT_TRUE(fsys::is_directory(out / "ORPHAN_ENTRY"));
}

INSTANTIATE_TEST_SUITE_P(Levels, CliOnArrays, ::testing::Values(0, 5));

TEST(Cli, ListingAgreesWithTheManifest) {
    BuiltArray array = ArrayBuilder::raid0(2, 128).build(fixtureImage());
    auto args = arrayArgs(array, 0, -1);
    CliResult ls = runCli(with(args, {"ls", "0", "--scan", "-R", "--json"}));
    ASSERT_EQ(ls.status, 0);
    auto listed = nlohmann::json::parse(ls.out);
    // A path names two entries when a deleted and a live one share a name: keep the live
    // one here, and collect the deleted paths apart.
    std::map<std::string, nlohmann::json> byPath;
    std::set<std::string> deletedPaths;
    for (const auto& e : listed) {
        std::string path = e["path"].get<std::string>();
        if (e["deleted"].get<bool>()) deletedPaths.insert(path);
        if (!byPath.count(path) || !e["deleted"].get<bool>()) byPath[path] = e;
    }
    const nlohmann::json m = manifest();
    for (const auto& e : m["entries"]) {
        auto it = byPath.find(e["path"].get<std::string>());
        ASSERT_NE(it, byPath.end()) << e["path"];
        EXPECT_EQ(it->second["folder"].get<bool>(), e["is_folder"].get<bool>()) << e["path"];
        EXPECT_FALSE(it->second["deleted"].get<bool>()) << e["path"];
        if (!e["is_folder"].get<bool>()) {
            EXPECT_EQ(it->second["size"].get<int64_t>(), e["size"].get<int64_t>()) << e["path"];
        }
    }
    for (const auto& e : m["deleted"]) EXPECT_TRUE(deletedPaths.count(e["path"].get<std::string>())) << e["path"];
    EXPECT_TRUE(byPath.count("ORPHAN_ENTRY"));

    // One folder, and one file, in the table form.
    CliResult trash = runCli(with(args, {"ls", "0", "--scan", "trash"}));
    EXPECT_EQ(trash.status, 0);
    EXPECT_EQ(trash.out.rfind("File(s) List", 0), 0u) << trash.out;
    EXPECT_NE(trash.out.find("gone.txt  (deleted)"), std::string::npos) << trash.out;
    EXPECT_NE(trash.out.find("kept.txt "), std::string::npos);
    CliResult one = runCli(with(args, {"ls", "0", "--scan", "/hello.txt", "--json"}));
    auto oneJson = nlohmann::json::parse(one.out);
    ASSERT_EQ(oneJson.size(), 1u);
    EXPECT_EQ(oneJson[0]["size"], 100);
    EXPECT_EQ(oneJson[0]["path"], "hello.txt");
    EXPECT_EQ(runCli(with(args, {"ls", "0", "--scan", "/no/such"})).status, 1);
    // NTFS names ignore letter case: any case finds the entry.
    CliResult upper = runCli(with(args, {"ls", "0", "--scan", "DOCUMENTS/reports", "--json"}));
    EXPECT_EQ(upper.status, 0) << upper.err;
    EXPECT_EQ(nlohmann::json::parse(upper.out)[0]["path"], "Documents/Reports/q1.txt");
}

TEST(Cli, SaveOfAFolderAndOfAFile) {
    BuiltArray array = ArrayBuilder::raid0(2, 128).build(fixtureImage());
    auto args = arrayArgs(array, 0, -1);
    TempFolder out;
    EXPECT_EQ(runCli(with(args, {"save", "0", "--scan", "Documents", "--out", out.str(), "--yes"})).status, 0);
    EXPECT_TRUE(fsys::exists(out / "Reports/q1.txt"));
    EXPECT_FALSE(fsys::exists(out / "Documents"));
    // A folder takes its times once its contents are written.
    struct stat st {};
    ASSERT_EQ(::stat((out / "Reports").c_str(), &st), 0);
    EXPECT_EQ(st.st_mtim.tv_sec, 1288538964);
    EXPECT_EQ(st.st_mtim.tv_nsec, 721185500);
    EXPECT_EQ(runCli(with(args, {"save", "0", "--scan", "/hello.txt", "--out", out.str()})).status, 0);
    EXPECT_EQ(fsys::file_size(out / "hello.txt"), 100u);
    // Saving the same file again never replaces the first copy.
    EXPECT_EQ(runCli(with(args, {"save", "0", "--scan", "/hello.txt", "--out", out.str()})).status, 0);
    EXPECT_TRUE(fsys::exists(out / "hello (2).txt"));
    // Without a terminal and without --yes the question is answered no.
    TempFolder none;
    EXPECT_EQ(runCli(with(args, {"save", "0", "--scan", "/", "--out", none.str()})).status, 1);
    EXPECT_TRUE(fsys::is_empty(none.path()));
    // An output folder of white space is refused as usage.
    EXPECT_EQ(runCli(with(args, {"save", "0", "--scan", "/", "--out", "  ", "--yes"})).status, 2);
}

TEST(Cli, SmallClustersSaveLikeTheManifest) {
    // 512-byte clusters: every MFT record spans two clusters.
    BuiltArray array = ArrayBuilder::raid5(3, 1, 64).build(fixtureImage("ntfs512"));
    std::vector<std::string> args = {"-m", array.memberPaths[0], "-m", array.memberPaths[1], "-m", "missing",
                                     "-l", "5", "--layout", "1", "-s", "64"};
    TempFolder out;
    EXPECT_EQ(runCli(with(args, {"save", "0", "--scan", "/", "--out", out.str(), "--yes"})).status, 0);
    const nlohmann::json m = manifest("ntfs512");
    int files = 0;
    EXPECT_TRUE(mismatches(out.path(), m["entries"], files).empty());
    EXPECT_EQ(files, 4);
    EXPECT_TRUE(mismatches(out.path(), m["deleted"], files).empty());
}

TEST(Cli, OtherFileSystemsSaySo) {
    BuiltArray array = ArrayBuilder::raid0(2, 128).build(fixtureImage());
    auto args = arrayArgs(array, 0, -1);
    CliResult fat = runCli(with(args, {"ls", "--at", "0", "--end", "40000", "--fs", "FAT32"}));
    EXPECT_EQ(fat.status, 1);
    // FAT32 is read now: an NTFS volume fails its boot-sector test.
    EXPECT_NE(fat.err.find("Selected Drive is not in Fat32 Format"), std::string::npos) << fat.err;
    CliResult save = runCli(with(args, {"save", "--at", "0", "--end", "40000", "--fs", "HFS+", "/", "--out", "x", "--yes"}));
    EXPECT_EQ(save.status, 1);
    EXPECT_NE(save.err.find("is not one of an HFS+ volume"), std::string::npos) << save.err;
    EXPECT_FALSE(fsys::exists("x"));
    // Deep mode is HFS+'s scan; a file system without one refuses it (HFS+ takes it above).
    CliResult deep = runCli(with(args, {"ls", "--at", "0", "--end", "40000", "--fs", "FAT32", "--mode", "deep"}));
    EXPECT_EQ(deep.status, 2);
    EXPECT_NE(deep.err.find("FAT32, which has no deep mode (it offers standard"), std::string::npos)
        << deep.err;
    CliResult advanced = runCli(with(args, {"ls", "--at", "0", "--end", "40000", "--fs", "extX", "--mode", "advanced"}));
    EXPECT_EQ(advanced.status, 2);
    EXPECT_NE(advanced.err.find("has no advanced mode (it offers standard)"), std::string::npos) << advanced.err;
    EXPECT_EQ(runCli(with(args, {"ls", "--at", "0", "--end", "40000", "--fs", "NTFS", "--candidate", "1"})).status, 2);
    EXPECT_EQ(runCli(with(args, {"save", "--at", "0", "--end", "40000", "--fs", "HFS+", "/", "--out", "x", "--yes",
                                 "--mode", "deep"})).status, 1);
    // A custom volume of NTFS itself lists like a row of the listing.
    CliResult ntfs = runCli(with(args, {"ls", "--at", "0", "--end", "49151", "--fs", "NTFS", "/trash", "--json"}));
    EXPECT_EQ(ntfs.status, 0) << ntfs.err;
    EXPECT_EQ(nlohmann::json::parse(ntfs.out).size(), 3u);
}

TEST(Cli, FormattedDrivesReadDeletedFatFilesAsContiguousClusters) {
    // The demo array's FAT16 volume (512-byte clusters): the deleted files' chains are gone.
    const std::string demo = kFixtures + "/demo/";
    const std::vector<std::string> args = {"-m", demo + "member0.img", "-m", "MISSING", "-m", demo + "member2.img",
                                           "-l", "5", "--layout", "3", "-s", "128"};
    std::ifstream in(demo + "p5.json");
    const nlohmann::json deleted = nlohmann::json::parse(in)["deleted"];
    for (bool formatted : {false, true}) {
        SCOPED_TRACE(formatted ? "--formatted" : "as the FAT says");
        TempFolder out;
        auto save = with(args, {"save", "--at", "36864", "--end", "53247", "--fs", "fat16", "/", "--out", out.str(),
                                "--yes"});
        if (formatted) save.push_back("--formatted");
        CliResult r = runCli(save);
        // Without the option only a deleted file's first cluster is read: the rest is damaged.
        EXPECT_EQ(r.status, formatted ? 0 : 1) << r.err;
        EXPECT_EQ(r.err.find("bytes 512-999 could not be read") != std::string::npos, !formatted) << r.err;
        std::set<std::string> gone;
        for (const auto& e : deleted) gone.insert(e["path"].get<std::string>());
        for (const auto& e : deleted) {
            if (e["is_folder"].get<bool>()) continue;
            // Each deleted name's first letter shows as U+FFE5, the deletion mark.
            fsys::path saved = out.path(), sofar;
            for (const auto& part : fsys::path(e["path"].get<std::string>())) {
                sofar /= part;
                saved /= gone.count(sofar.string()) ? "\xEF\xBF\xA5" + part.string().substr(1) : part.string();
            }
            ASSERT_TRUE(fsys::exists(saved)) << saved;
            EXPECT_EQ(fsys::file_size(saved), e["size"].get<uintmax_t>());
            EXPECT_EQ(Sha256::ofFile(saved.string()) == e["sha256"].get<std::string>(), formatted) << saved;
        }
    }
}

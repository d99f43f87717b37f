// `quenlow search` and the Recycle Bin's restored names on the demo array: its NTFS volume
// keeps recycled files in a user folder, its FAT32 volume directly in the bin.

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <nlohmann/json.hpp>
#include <set>

#include "support/RunCli.h"
#include "support/Sha256.h"
#include "support/TempFolder.h"

using namespace quenlow::test;
using nlohmann::json;

namespace {

const std::string kDemo = std::string(QUENLOW_FIXTURE_DIR) + "/demo/";
const std::string kUser = "$RECYCLE.BIN/S-1-5-21-1004336348-1177238915-682003330-1001";

std::vector<std::string> demo(std::vector<std::string> more) {
    std::vector<std::string> a = {"-m", kDemo + "member0.img", "-m", "MISSING", "-m", kDemo + "member2.img",
                                  "-l", "5", "--layout", "3", "-s", "128"};
    a.insert(a.end(), more.begin(), more.end());
    return a;
}

std::set<std::string> paths(const std::string& out) {
    std::set<std::string> p;
    for (const auto& e : json::parse(out)) p.insert(e["path"].get<std::string>());
    return p;
}

}  // namespace

TEST(CliSearch, FindsNamesAndTheRecycleBinsFormerNames) {
    const struct {
        std::vector<std::string> args;
        std::set<std::string> found;
    } cases[] = {
        {{"search", "0", "SHOPPING|day1", "--json"}, {kUser + "/shopping list.txt", kUser + "/Old Photos/Trip/day1.txt"}},
        {{"search", "0", "A1B2C3", "--json", "--no-recycle-names"}, {kUser + "/$IA1B2C3.txt", kUser + "/$RA1B2C3.txt"}},
        {{"search", "0", "^hello", "--json"}, {"hello.txt"}},
        // FAT32: pairs directly inside the bin are restored, those of a sub-folder are not.
        {{"search", "3", "csv$|\\.doc$|SUB", "--json"},
         {"$RECYCLE.BIN/$IX7Y8Z9.csv", "$RECYCLE.BIN/budget 2019.csv", "$RECYCLE.BIN/$IQWERTY.doc",
          "$RECYCLE.BIN/invitation.doc", "$RECYCLE.BIN/S-1-5-21-9/$ISUB001.txt",
          "$RECYCLE.BIN/S-1-5-21-9/$RSUB001.txt"}},
        {{"search", "3", "nothing like it", "--json"}, {}},
    };
    for (const auto& c : cases) {
        CliResult r = runCli(demo(c.args));
        ASSERT_EQ(r.status, 0) << c.args[2] << ": " << r.err;
        EXPECT_EQ(paths(r.out), c.found) << c.args[2];
    }
    // Rows carry the keys of ls --json.
    CliResult ls = runCli(demo({"ls", "0", kUser, "--json"}));
    CliResult search = runCli(demo({"search", "0", "shopping", "--json"}));
    ASSERT_EQ(ls.status, 0) << ls.err;
    json row = json::parse(search.out).at(0), listed;
    for (const auto& e : json::parse(ls.out))
        if (e["name"] == "shopping list.txt") listed = e;
    EXPECT_EQ(row, listed);
    // Patterns that cannot be compiled are refused as usage, before the volume is read.
    for (const char* bad : {"*.txt", "(a)\\1"}) {
        CliResult r = runCli(demo({"search", "0", bad}));
        EXPECT_EQ(r.status, 2) << bad;
        EXPECT_NE(r.err.find(bad), std::string::npos) << r.err;
    }
}

TEST(CliSearch, RestoredNamesAreSaved) {
    TempFolder out;
    ASSERT_EQ(runCli(demo({"save", "3", "$RECYCLE.BIN", "--out", out.str(), "--yes"})).status, 0);
    std::ifstream in(kDemo + "p7.json");
    const json manifest = json::parse(in);
    int restored = 0;
    for (const auto& e : manifest["entries"]) {
        if (!e.contains("recycled_as")) continue;
        const std::string name = std::filesystem::path(e["path"].get<std::string>()).filename();
        EXPECT_EQ(Sha256::ofFile((out / name).string()), e["sha256"].get<std::string>()) << name;
        ++restored;
    }
    EXPECT_EQ(restored, 2);
    EXPECT_TRUE(std::filesystem::exists(out / "S-1-5-21-9" / "$RSUB001.txt"));
}

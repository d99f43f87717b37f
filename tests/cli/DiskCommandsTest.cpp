// probe, info and dump on the committed arrays: VHD members, LDM members and the degraded
// demo RAID-5, each compared with the image the members were made from.

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <nlohmann/json.hpp>

#include "support/RunCli.h"
#include "support/Sha256.h"

using quenlow::test::runCli;

namespace {

const std::string kFixtures = QUENLOW_FIXTURE_DIR;

nlohmann::json readJson(const std::string& path) {
    std::ifstream in(path);
    return nlohmann::json::parse(in);
}

std::string fileSha256(const std::string& path) { return quenlow::test::Sha256::ofFile(path); }

std::string tempPath(const std::string& name) {
    return (std::filesystem::temp_directory_path() /
            ("quenlow-dump-" + std::to_string(::getpid()) + "-" + name))
        .string();
}

}  // namespace

TEST(CliDisk, DumpOfVhdAndRawMembersEqualsTheSourceImage) {
    const std::string d = kFixtures + "/vhd/";
    auto array = readJson(d + "array.json");
    const std::string want = array["source_sha256"];
    const std::vector<std::vector<std::string>> variants = {
        {"-m", d + "member0.img", "-m", d + "member1.img"},
        {"--vhd", "-m", d + "member0.vhd", "-m", d + "member1.vhd"},
        {"--vhd", "-m", d + "member0.vhd", "-m", d + "member1-fixed.vhd"},
    };
    for (const auto& members : variants) {
        auto args = members;
        for (std::string a : {"-l", "0", "-s", "128", "dump", "--out"}) args.push_back(a);
        auto out = tempPath("vhd.img");
        args.push_back(out);
        auto r = runCli(args);
        ASSERT_EQ(r.status, 0) << r.err;
        EXPECT_EQ(fileSha256(out), want) << members[1];
        std::filesystem::remove(out);
    }
}

TEST(CliDisk, LdmMembersGiveTheProposedOffsetAndTheArraySize) {
    for (std::string variant : {"start1985", "start2048"}) {
        const std::string d = kFixtures + "/ldm/" + variant + "/";
        std::vector<std::string> array = {"-m", d + "member0.img", "-m", d + "member1.img", "-l", "0", "-s", "128"};
        auto args = array;
        args.insert(args.end(), {"probe", "--json"});
        auto r = runCli(args);
        ASSERT_EQ(r.status, 0) << r.err;
        auto probe = nlohmann::json::parse(r.out);
        ASSERT_EQ(probe.size(), 2u);
        EXPECT_EQ(probe[0]["proposed_offset"], 2048) << variant;
        EXPECT_EQ(probe[0]["ldm_header"], true);
        EXPECT_EQ(probe[0]["ldm_data_sectors"], 4096);

        args = array;
        args.insert(args.end(), {"info", "--json"});
        r = runCli(args);
        ASSERT_EQ(r.status, 0) << r.err;
        auto info = nlohmann::json::parse(r.out);
        EXPECT_EQ(info["total_sectors"], 8192);  // two members of 4096 data sectors
        EXPECT_EQ(info["members"][1]["offset"], 2048);

        auto out = tempPath(variant + ".img");
        args = array;
        args.insert(args.end(), {"dump", "--out", out});
        r = runCli(args);
        ASSERT_EQ(r.status, 0) << r.err;
        EXPECT_EQ(fileSha256(out), fileSha256(kFixtures + "/ldm/source.img"));
        std::filesystem::remove(out);
    }
}

TEST(CliDisk, DegradedDemoArrayDumpsTheOriginalAndDumpsAPartOnRequest) {
    const std::string d = kFixtures + "/demo/";
    auto array = readJson(d + "array.json");
    std::vector<std::string> opts = {"-m", d + "member0.img", "-m", "missing", "-m", d + "member2.img",
                                     "-l", "5", "--layout", "3", "-s", "128"};
    auto args = opts;
    args.insert(args.end(), {"info", "--json"});
    auto r = runCli(args);
    ASSERT_EQ(r.status, 0) << r.err;
    auto info = nlohmann::json::parse(r.out);
    EXPECT_EQ(info["total_sectors"], array["virtual_sectors"]);
    EXPECT_EQ(info["members"][1]["missing"], true);

    auto out = tempPath("demo.img");
    args = opts;
    args.insert(args.end(), {"dump", "--out", out});
    r = runCli(args);
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(fileSha256(out), array["virtual_sha256"].get<std::string>());

    // Sectors 100..109 alone: the same bytes as that part of the whole dump.
    std::ifstream whole(out, std::ios::binary);
    std::string all((std::istreambuf_iterator<char>(whole)), std::istreambuf_iterator<char>());
    auto part = tempPath("part.img");
    args = opts;
    args.insert(args.end(), {"dump", "--start", "100", "--count", "10", "--out", part});
    r = runCli(args);
    ASSERT_EQ(r.status, 0) << r.err;
    std::ifstream pin(part, std::ios::binary);
    std::string got((std::istreambuf_iterator<char>(pin)), std::istreambuf_iterator<char>());
    EXPECT_EQ(got, all.substr(100 * 512, 10 * 512));

    // A start beyond the end is a usage error; the output may not be a member.
    args = opts;
    args.insert(args.end(), {"dump", "--start", "99999999", "--out", part});
    EXPECT_EQ(runCli(args).status, 2);
    args = opts;
    args.insert(args.end(), {"dump", "--count", "1", "--out", d + "member0.img"});
    r = runCli(args);
    EXPECT_EQ(r.status, 2);
    EXPECT_NE(r.err.find("member"), std::string::npos);
    std::filesystem::remove(out);
    std::filesystem::remove(part);
}

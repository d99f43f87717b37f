// carve and signatures on the command line: the carving image (made at test time by
// tests/fixtures/make-carve-image.py), every planted whole file carved with its exact bytes.

#include <gtest/gtest.h>

#include <nlohmann/json.hpp>

#include "support/RunCli.h"
#include "support/Sha256.h"
#include "support/TempFolder.h"

using namespace quenlow;

namespace {

struct CarveImage : ::testing::Test {
    static void SetUpTestSuite() {
        dir = new test::TempFolder();
        image = (*dir / "carve.img").string();
        std::string cmd = "python3 " + test::shellQuote(std::string(QUENLOW_SOURCE_DIR) +
                                                        "/tests/fixtures/make-carve-image.py") +
                          " " + test::shellQuote(image);
        ASSERT_EQ(std::system(cmd.c_str()), 0);
        manifest = nlohmann::json::parse(test::readAll(image + ".json"));
    }
    static void TearDownTestSuite() { delete dir; }
    static std::vector<std::string> carve(std::vector<std::string> more) {
        int64_t end = manifest["size"].get<int64_t>() / 512 - 1;
        std::vector<std::string> args{"-m", image, "-l", "0", "carve", "--at", "0", "--end", std::to_string(end)};
        args.insert(args.end(), more.begin(), more.end());
        return args;
    }
    static test::TempFolder* dir;
    static std::string image;
    static nlohmann::json manifest;
};
test::TempFolder* CarveImage::dir = nullptr;
std::string CarveImage::image;
nlohmann::json CarveImage::manifest;

}  // namespace

TEST_F(CarveImage, EveryWholePlantedFileIsCarvedExactly) {
    std::string out = (*dir / "out").string();
    test::CliResult r = test::runCli(carve({"--out", out, "--json"}));
    ASSERT_EQ(r.status, 0) << r.err;
    nlohmann::json finds = nlohmann::json::parse(r.out);
    for (const auto& p : manifest["files"]) {
        SCOPED_TRACE(p.dump());
        const nlohmann::json* hit = nullptr;
        for (const auto& f : finds)
            if (f["start"] == p["offset"] && f["type"] == p["type"]) hit = &f;
        ASSERT_NE(hit, nullptr);
        if (!p["whole"].get<bool>()) continue;
        EXPECT_EQ((*hit)["size"], p["size"]);
        EXPECT_EQ((*hit)["sha256"], p["sha256"]);
        EXPECT_EQ(test::Sha256::ofFile(out + "/" + (*hit)["path"].get<std::string>()), p["sha256"]);
    }
    // A second carve into the same folder replaces nothing.
    r = test::runCli(carve({"--out", out, "--type", "png", "--json"}));
    ASSERT_EQ(r.status, 0) << r.err;
    finds = nlohmann::json::parse(r.out);
    ASSERT_EQ(finds.size(), 1u);
    EXPECT_EQ(finds[0]["path"], "Pictures/208490 (2).png");
}

TEST_F(CarveImage, ListsByCategoryAndTakesUserSignatures) {
    std::string sigs = (*dir / "mine.sig").string();
    test::CliResult add = test::runCli({"signatures", "add", sigs, "--ext", "bmp", "--start", "42,4D",
                                        "--size-offset", "2", "--size-bytes", "4", "--size-includes-header",
                                        "--approx-size", "1000000", "--category", "Bitmaps"});
    ASSERT_EQ(add.status, 0) << add.err;
    test::CliResult list = test::runCli({"signatures", "list", sigs, "--json"});
    ASSERT_EQ(list.status, 0) << list.err;
    EXPECT_EQ(nlohmann::json::parse(list.out)[0]["start"], "42,4D");
    EXPECT_EQ(test::runCli({"signatures", "add", sigs, "--ext", "x", "--start", ","}).status, 2);

    test::CliResult r = test::runCli(carve({"--list", "--no-default", "--signatures", sigs}));
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_NE(r.out.find("Bitmaps (2)\n"), std::string::npos) << r.out;
    EXPECT_NE(r.out.find("409600 .bmp"), std::string::npos) << r.out;

    std::string bad = (*dir / "bad.sig").string();
    { std::ofstream(bad) << std::string(170, 'x'); }
    r = test::runCli(carve({"--list", "--signatures", bad}));
    EXPECT_EQ(r.status, 1);
    EXPECT_NE(r.err.find("not a valid file.."), std::string::npos) << r.err;
}

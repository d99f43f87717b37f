#include "output/OutputName.h"

#include <gtest/gtest.h>

using namespace quenlow::output;

TEST(OutputName, LongNamesAreCutAtCharacterBoundariesKeepingTheExtension) {
    std::string euro = "\xE2\x82\xAC";  // three bytes
    std::string name;
    for (int i = 0; i < 100; ++i) name += euro;
    std::string cut = safeName(name + ".jpeg");
    EXPECT_LE(cut.size(), kMaxNameBytes);
    EXPECT_EQ(cut.substr(cut.size() - 5), ".jpeg");
    EXPECT_EQ((cut.size() - 5) % 3, 0u);  // no split character
    EXPECT_EQ(safeName(std::string(255, 'a')), std::string(255, 'a'));
    EXPECT_EQ(safeName(std::string(256, 'a')), std::string(255, 'a'));

    std::string tagged = taggedName(std::string(255, 'b'), "deleted 12");
    EXPECT_EQ(tagged.size(), kMaxNameBytes);
    EXPECT_EQ(tagged.substr(tagged.size() - 13), " (deleted 12)");
}

TEST(OutputName, TagsGoBeforeTheExtension) {
    EXPECT_EQ(taggedName("a.tar.gz", "2"), "a.tar (2).gz");
    EXPECT_EQ(taggedName(".profile", "2"), ".profile (2)");
    EXPECT_EQ(taggedName("trailing.", "2"), "trailing. (2)");
    EXPECT_EQ(taggedName("noext", "deleted 1"), "noext (deleted 1)");
}

TEST(OutputName, ClaimsSkipTakenAndExistingNames) {
    NameClaims claims;
    auto none = [](const std::string&) { return false; };
    EXPECT_EQ(claims.claim("x.txt", false, none), "x.txt");
    EXPECT_EQ(claims.claim("x.txt", false, none), "x (2).txt");
    EXPECT_EQ(claims.claim("x.txt", true, none), "x (deleted 1).txt");
    EXPECT_EQ(claims.claim("y", true, none), "y");  // a deleted entry without a clash keeps its name
    auto onDisk = [](const std::string& n) { return n == "z" || n == "z (2)"; };
    EXPECT_EQ(claims.claim("z", false, onDisk), "z (3)");
}

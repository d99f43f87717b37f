// The streamed JSON of listings: strings a parser may hand over (control characters,
// invalid UTF-8) stay valid JSON, and times carry the precision the file system stores.

#include <gtest/gtest.h>

#include <nlohmann/json.hpp>

#include "cli/EntryJson.h"

using namespace quenlow;

TEST(EntryJson, StringsAndTimes) {
    struct Case {
        std::string in, out;
    } strings[] = {
        {"plain", "\"plain\""},
        {"q\"b\\", "\"q\\\"b\\\\\""},
        {"\x1b]0;x\x07\n", "\"\\u001b]0;x\\u0007\\u000a\""},
        {"caf\xC3\xA9 \xF0\x9F\x98\x80", "\"caf\xC3\xA9 \xF0\x9F\x98\x80\""},
        {"bad\xFF\xC3", "\"bad\xEF\xBF\xBD\xEF\xBF\xBD\""},
        {"\xED\xA0\x80", "\"\xEF\xBF\xBD\xEF\xBF\xBD\xEF\xBF\xBD\""},  // a surrogate is not UTF-8
    };
    for (const Case& c : strings) {
        std::string out;
        cli::appendJsonString(out, c.in);
        EXPECT_EQ(out, c.out);
        EXPECT_TRUE(nlohmann::json::accept(out)) << out;
    }
    EXPECT_EQ(cli::isoUtc({1577934245, 500000000}, 7), "2020-01-02T03:04:05.5000000Z");
    EXPECT_EQ(cli::isoUtc({0, 0}, 0), "1970-01-01T00:00:00Z");
    EXPECT_EQ(cli::isoUtc({-11644473600, 0}, 0), "1601-01-01T00:00:00Z");
    EXPECT_EQ(cli::isoUtc({951782400, 0}, 0), "2000-02-29T00:00:00Z");

    fs::EntryTexts texts{"c", "a", "m", "-A"};
    fs::EntryTimes times;
    times.modified = platform::UnixTime{1, 0};
    std::string out;
    cli::appendEntryJson(out, {"d/f", "f", false, true, 42, &texts, &times});
    nlohmann::ordered_json j = nlohmann::ordered_json::parse(out);
    std::vector<std::string> keys;
    for (auto& [k, v] : j.items()) keys.push_back(k);
    EXPECT_EQ(keys, (std::vector<std::string>{"path", "name", "folder", "deleted", "size", "created", "accessed",
                                              "modified", "attributes", "created_utc", "accessed_utc", "modified_utc"}));
    EXPECT_EQ(j["size"], 42);
    EXPECT_TRUE(j["created_utc"].is_null());
    EXPECT_EQ(j["modified_utc"], "1970-01-01T00:00:01Z");
}

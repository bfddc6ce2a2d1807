// The JSON text that the studio's page parses: strings escaped so that any source text, listing
// or message survives JSON.parse, and fields and items in the order written.

#include "studio/json.hpp"

#include <gtest/gtest.h>

#include <string>
#include <string_view>
#include <vector>

namespace {

namespace Json = Studio::Json;

TEST(Json_Test, StringsEscapeQuotesBackslashesAndControlCharacters) {
    struct Case {
        const char* name;
        std::string_view text;
        const char* json;
    };
    const Case cases[] = {
        {"plain", "MVI A,5", R"("MVI A,5")"},
        {"empty", "", R"("")"},
        {"quote and backslash", R"(DB "a\b")", R"("DB \"a\\b\"")"},
        {"line ends and tab", "a\tb\r\n", R"("a\tb\r\n")"},
        {"other control characters", std::string_view("\0\x01\x1f", 3), R"("\u0000\u0001\u001f")"},
        {"UTF-8 and DEL as they are", "\xC3\xA9\x7f", "\"\xC3\xA9\x7f\""},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(Json::string(c.text), c.json) << c.name;
    }
}

TEST(Json_Test, ObjectsAndArraysKeepTheOrderWritten) {
    const std::vector<int> values{3, -1, 70000};
    EXPECT_EQ(Json::object({{"reason", Json::string("watch")},
                            {"address", Json::number(0x2400)},
                            {"items", Json::array(values, [](int v) { return Json::number(v); })},
                            {"none", Json::array(std::vector<int>{}, Json::number)},
                            {"on", Json::boolean(true)},
                            {"state", Json::null}}),
              R"({"reason":"watch","address":9216,"items":[3,-1,70000],"none":[],"on":true,)"
              R"("state":null})");
}

} // namespace

// The JSON reader against texts it must take and texts it must refuse, and the writer against
// the reader.

#include "base/exception.hpp"
#include "formats/json.hpp"

#include <gtest/gtest.h>

#include <string>

namespace {

using Formats::Json;

TEST(Json, ReadsWhatJsonAllowsAndWritesItBack) {
    struct Case {
        const char* name;
        const char* text;
        const char* written;
    };
    const Case cases[] = {
        {"literals", " [true, false, null] ", "[true,false,null]"},
        {"whole numbers", "[0, -1, 65535, 1e3, -0]", "[0,-1,65535,1000,0]"},
        {"fractions", "[0.5, -2.5E-1, 1.25e+1]", "[0.5,-0.25,12.5]"},
        {"escapes", R"(["\"\\\/\b\f\n\r\t"])", R"(["\"\\/\u0008\u000c\n\r\t"])"},
        {"a \\u escape", R"("caf\u00e9")", "\"caf\xC3\xA9\""},
        {"a surrogate pair", R"("\ud83d\ude00")", "\"\xF0\x9F\x98\x80\""},
        {"UTF-8 as it stands", "\"\xE2\x82\xAC\"", "\"\xE2\x82\xAC\""},
        {"members in order", R"({"b":1,"a":{"c":[]}})", R"({"b":1,"a":{"c":[]}})"},
        {"empty containers", "[{}, [], \"\"]", R"([{},[],""])"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        EXPECT_EQ(Formats::format_json(Formats::parse_json(c.text)), c.written);
    }
}

TEST(Json, RefusesWhatJsonDoesNotAllowSayingWhere) {
    struct Case {
        const char* name;
        std::string text;
        const char* message;
    };
    const std::string deep = std::string(65, '[') + std::string(65, ']');
    const Case cases[] = {
        {"nothing", "  ", "JSON: line 1, column 3: the text ends where a value should be"},
        {"a trailing comma", "[1,]", "JSON: line 1, column 4: expected a value"},
        {"two values", "{} {}", "JSON: line 1, column 4: text after the value"},
        {"an unclosed string", "\n\"abc", "JSON: line 2, column 5: the text ends inside a string"},
        {"an unclosed object", R"({"a":1)",
         "JSON: line 1, column 7: the text ends inside an object"},
        {"a leading zero", "012", "JSON: line 1, column 1: a number does not start with 0"},
        {"a bare fraction", "1.", "JSON: line 1, column 3: expected a digit after '.'"},
        {"a number too large", "1e999", "JSON: line 1, column 1: a number too large"},
        {"a control character", "\"a\tb\"", "a control character inside a string"},
        {"an unknown escape", R"("\x41")", "an unknown escape in a string"},
        {"a short \\u", R"("\u12")", "expected four hexadecimal digits after \\u"},
        {"a lone high surrogate", R"("\ud83d")", "a high surrogate without a low one after it"},
        {"a lone low surrogate", R"("\ude00")", "a low surrogate without a high one before it"},
        {"an overlong UTF-8 form", "\"\xC0\xAF\"", "text that is not UTF-8"},
        {"a UTF-8 surrogate", "\"\xED\xA0\x80\"", "text that is not UTF-8"},
        {"a cut UTF-8 sequence", "\"\xE2\x82\"", "text that is not UTF-8"},
        {"a name twice", R"({"a":1,"a":2})", "the member \"a\" given twice in an object"},
        {"a name that is no string", "{a:1}", "expected a member's name"},
        {"too deep", deep, "nested more than 64 deep"},
        {"a word cut short", "tru", "expected a value"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        try {
            Formats::parse_json(c.text);
            ADD_FAILURE() << "read";
        } catch (const Tavrin::Exception& error) {
            EXPECT_NE(error.message.find(c.message), std::string::npos) << error.message;
        }
    }
}

TEST(Json, BuildsValuesMemberByMember) {
    Json reply;
    reply.set("success", true);
    reply.set("body", Json::Object{{"pc", 0x0105}, {"name", "DRAW"}});
    reply.set("success", false); // replaces, keeping its place
    Json list;
    list.push_back(1.5);
    list.push_back(nullptr);
    reply.set("list", list);
    EXPECT_EQ(Formats::format_json(reply),
              R"({"success":false,"body":{"pc":261,"name":"DRAW"},"list":[1.5,null]})");
    ASSERT_NE(reply.find("body"), nullptr);
    EXPECT_EQ(reply.find("body")->find("name")->string(), "DRAW");
    EXPECT_EQ(reply.find("missing"), nullptr);
    EXPECT_EQ(Json(3).find("x"), nullptr);
    EXPECT_EQ(Formats::parse_json(Formats::format_json(reply)), reply);
}

} // namespace

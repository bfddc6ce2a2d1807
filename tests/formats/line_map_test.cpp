// Line maps: read back, written, and lines found by their file's path or name alone.
#include "formats/line_map.hpp"

#include "base/exception.hpp"

#include <gtest/gtest.h>

#include <optional>
#include <string>

namespace {

TEST(Line_Map, FindsALineByItsFileAsTheMapNamesItOrByNameAlone) {
    const Formats::Line_Map map = Formats::parse_line_map(
        "0000 src/a.asm:1\n0003 b.asm:1\n0006 src/a.asm:2\n0007 src/a.asm:2\n0009 C:/x/c.asm:4\n",
        "map");
    const struct {
        const char* wanted;
        std::optional<std::uint16_t> address;
    } cases[] = {
        {"src/a.asm:1", 0x0000},
        {"a.asm:2", 0x0006},
        {"b.asm:1", 0x0003},
        {"C:/x/c.asm:4", 0x0009},
        {"other/a.asm:1", {}},
        {"a.asm:3", {}},
        {"a.asm", {}},
        {"a.asm:0", {}},
        {":1", {}},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(map.address_of(c.wanted), c.address) << c.wanted;
    }
    EXPECT_EQ(map.place_of(0x0007), "src/a.asm:2");
    EXPECT_EQ(map.place_of(0x0008), "");
    for (const char* wrong :
         {"000 a.asm:1", "0000 a.asm", "0000 a.asm:x", "00G0 a.asm:1", "0000a.asm:1"}) {
        EXPECT_THROW(Formats::parse_line_map(wrong, "map"), Tavrin::Exception) << wrong;
    }
}

TEST(Line_Map, IsWrittenInTheOrderOfItsAddressesAndReadsBack) {
    const Formats::Line_Map map(
        {{0x0010, "src/a.asm", 9}, {0x0000, "b.asm", 1}, {0x0003, "C:/x/c.asm", 40}});
    const std::string text = Formats::format_line_map(map);
    EXPECT_EQ(text, "0000 b.asm:1\n0003 C:/x/c.asm:40\n0010 src/a.asm:9\n");
    EXPECT_EQ(Formats::format_line_map(Formats::parse_line_map(text, "map")), text);
}

} // namespace

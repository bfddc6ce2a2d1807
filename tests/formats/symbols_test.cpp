// Symbol files: written sorted, read back, refused line by line, and the names they give to
// addresses.
#include "formats/symbols.hpp"

#include "base/exception.hpp"

#include <gtest/gtest.h>

#include <string>

namespace {

TEST(Symbol_File, IsSortedByValueThenNameAndReadsBack) {
    const std::string text =
        Formats::format_symbol_file({{"LOOP", 0x0010}, {"START", 0x0000}, {"BEGIN", 0x0010}});
    EXPECT_EQ(text, "0000 START\n0010 BEGIN\n0010 LOOP\n");
    const Formats::Symbols symbols = Formats::parse_symbol_file(text, "a.sym");
    EXPECT_EQ(*symbols.name_of(0x0010), "BEGIN");
    EXPECT_EQ(symbols.value_of("loop"), 0x0010);
    EXPECT_EQ(symbols.name_of(0x0001), nullptr);
}

TEST(Symbol_File, RefusesALineThatIsNotValueAndName) {
    for (const char* text : {"0010LOOP\n", "10 LOOP\n", "001G LOOP\n", "0010 \n", "0010 A B\n"}) {
        try {
            Formats::parse_symbol_file(std::string("0000 START\n") + text, "b.sym");
            ADD_FAILURE() << "accepted " << text;
        } catch (const Tavrin::Exception& error) {
            EXPECT_TRUE(error.message.starts_with("b.sym:2: expected \"XXXX NAME\""))
                << error.message;
        }
    }
}

// Only labels name places: an EQU name shows only its exact value, a label also what follows it.
TEST(Symbol_File, LabelsNameThePlacesAfterThemAndEquNamesOnlyTheirValue) {
    const Formats::Symbols symbols = Formats::parse_symbol_file(
        "0002 PORT EQU\n0002 START\n0100 ADDH\n0300 TABLE\n2000 SCORE EQU\n", "d.sym");
    struct Case {
        std::uint16_t address;
        const char* name;
    };
    for (const Case c : {Case{0x0002, "START"}, Case{0x0003, "START+1"}, Case{0x0101, "ADDH+1"},
                         Case{0x01FF, "ADDH+255"}, Case{0x0200, ""}, Case{0x2000, "SCORE"},
                         Case{0x2001, ""}, Case{0x0001, ""}}) {
        EXPECT_EQ(symbols.near_name(c.address), c.name) << c.address;
    }
    EXPECT_EQ(Formats::format_symbol_file({{"PORT", 2}, {"START", 2}}, {"PORT"}),
              "0002 PORT EQU\n0002 START\n");
}

} // namespace

// The shared formats as the tools take them: key scripts read from files with a bound, and
// addresses given by number or by a symbol file's name.
#include "base/exception.hpp"
#include "formats/key_script.hpp"
#include "formats/symbols.hpp"
#include "tools/files/format_files.hpp"
#include "tools/files/numbers.hpp"

#include <gtest/gtest.h>

#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <optional>
#include <string>

namespace {

TEST(Key_Script_File, IsReadWithABoundAndRefusedWhenNotAScript) {
    const auto folder = std::filesystem::temp_directory_path() /
                        ("tool_files_key_script_test_" + std::to_string(getpid()));
    std::filesystem::create_directories(folder);
    std::ofstream(folder / "keys.txt") << "at 2 press D\nat 1 release D\n";
    try {
        Tools::read_key_script(folder / "keys.txt");
        ADD_FAILURE() << "no error";
    } catch (const Tavrin::Exception& exception) {
        EXPECT_EQ(exception.message, (folder / "keys.txt").string() +
                                         ":2: frame 1 comes after frame 2 (line 1); list the "
                                         "events in the order of their frames");
    }
    for (const auto& path : {folder, folder / "absent.txt"}) {
        EXPECT_THROW(Tools::read_key_script(path), Tavrin::Exception) << path;
    }
    std::ofstream(folder / "long.txt") << std::string(Formats::max_script_size + 1, '\n');
    try {
        Tools::read_key_script(folder / "long.txt");
        ADD_FAILURE() << "no error";
    } catch (const Tavrin::Exception& exception) {
        EXPECT_EQ(exception.message, "the input script " + (folder / "long.txt").string() +
                                         " is larger than 4 MiB, the most a script may have");
    }
    std::filesystem::remove_all(folder);
}

TEST(Addresses, AreNumbersOrNamesFromASymbolFile) {
    const Formats::Symbols symbols = Formats::parse_symbol_file("1A2B DRAW\n", "c.sym");
    EXPECT_EQ(Tools::parse_address("1A2BH", nullptr), 0x1A2B);
    EXPECT_EQ(Tools::parse_address("0x1a2b", nullptr), 0x1A2B);
    EXPECT_EQ(Tools::parse_address("draw", &symbols), 0x1A2B);
    EXPECT_EQ(Tools::parse_address("10000H", &symbols), std::nullopt);
    EXPECT_EQ(Tools::parse_address("1A2B", &symbols), std::nullopt) << "H or 0x says hex";
    EXPECT_EQ(Tools::parse_address("missing", &symbols), std::nullopt);

    const Formats::Symbols named = Formats::parse_symbol_file(
        "0002 PORT EQU\n0002 START\n0100 ADDH\n0300 TABLE\n2000 SCORE EQU\n", "d.sym");
    EXPECT_EQ(Tools::parse_address("ADDH", &named), 0x0100) << "the name, not the number";
    EXPECT_EQ(Tools::parse_address("ADDH", nullptr), std::nullopt);
    EXPECT_EQ(Tools::parse_address("8192", nullptr), 0x2000);
}

} // namespace

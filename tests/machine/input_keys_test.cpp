// The machine's key table against the copies of it that cannot be made from it: the README's
// controls, the soak test's random keys, and the browser page's legend and touch controls.
#include "machine/board.hpp"

#include <gtest/gtest.h>

#include <cctype>
#include <fstream>
#include <iterator>
#include <map>
#include <regex>
#include <set>
#include <sstream>
#include <string>

namespace {

std::string source_file(const std::string& name) {
    std::ifstream file(std::string(TAVRIN_SOURCE_DIR) + "/" + name);
    EXPECT_TRUE(file) << "cannot read " << name;
    return {std::istreambuf_iterator<char>(file), std::istreambuf_iterator<char>()};
}

TEST(Input_Keys, TheReadmesControlsListEachKeyWithItsLabel) {
    std::istringstream readme(source_file("README.md"));
    std::map<char, std::string> listed;
    bool in_controls = false;
    for (std::string line; std::getline(readme, line);) {
        if (line.starts_with("## ")) {
            in_controls = line == "## Controls";
        }
        // A row of one letter: | C | coin |
        std::smatch row;
        if (in_controls && std::regex_match(line, row, std::regex(R"(\| ([A-Z]) \| (.*) \|)"))) {
            listed[row[1].str()[0]] = row[2];
        }
    }
    std::map<char, std::string> keys;
    for (const auto& [key, bit, label] : Drovask::input_keys) {
        keys[key] = label;
    }
    EXPECT_EQ(listed, keys);
}

// The soak's `MACHINE_KEYS = ("c", "q", ...)`, in whatever case and brackets.
TEST(Input_Keys, TheSoakTestPressesEveryKeyAndNoOther) {
    const std::string soak = source_file("scripts/soak");
    std::smatch list;
    ASSERT_TRUE(std::regex_search(
        soak, list, std::regex(R"(machine_keys\s*=\s*[(\[]([^)\]]*))", std::regex::icase)))
        << "scripts/soak names its keys in `MACHINE_KEYS`";
    std::set<char> pressed;
    const std::string items = list[1];
    const std::regex word_pattern(R"(\w+)");
    for (std::sregex_iterator word(items.begin(), items.end(), word_pattern), end; word != end;
         ++word) {
        ASSERT_EQ(word->length(), 1) << word->str();
        pressed.insert(static_cast<char>(std::toupper(static_cast<unsigned char>(word->str()[0]))));
    }
    std::set<char> keys;
    for (const auto& input_key : Drovask::input_keys) {
        keys.insert(input_key.key);
    }
    EXPECT_EQ(pressed, keys);
}

// The page's markup: each touch control (`data-key="C"`) plays one of the machine's keys, and
// the legend (`<kbd data-code="KeyC">`) names each of them besides P, the page's pause.
TEST(Input_Keys, TheWebPagesLegendAndTouchControlsCarryEveryKey) {
    const std::string page = source_file("application/web/index.html");
    const auto letters = [&page](const char* pattern) {
        std::multiset<char> found;
        const std::regex attribute(pattern);
        for (std::sregex_iterator match(page.begin(), page.end(), attribute), end; match != end;
             ++match) {
            found.insert((*match)[1].str()[0]);
        }
        return found;
    };
    std::multiset<char> keys;
    for (const auto& input_key : Drovask::input_keys) {
        keys.insert(input_key.key);
    }
    EXPECT_EQ(letters(R"re(data-key="([A-Z])")re"), keys);
    keys.insert('P');
    EXPECT_EQ(letters(R"re(<kbd data-code="Key([A-Z])")re"), keys);
}

} // namespace

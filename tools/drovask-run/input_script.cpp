#include "tools/drovask-run/input_script.hpp"

#include "machine/board.hpp"
#include "window/exception.hpp"

#include <algorithm>
#include <array>
#include <cctype>
#include <charconv>
#include <fstream>
#include <iterator>
#include <sstream>

namespace Drovask {

namespace {

constexpr std::string_view form = "expected \"at FRAME press|release KEY\"";

std::vector<std::string_view> words_of(std::string_view line) {
    std::vector<std::string_view> words;
    std::size_t i = 0;
    while (i < line.size()) {
        while (i < line.size() && std::isspace(static_cast<unsigned char>(line[i])) != 0) {
            ++i;
        }
        const std::size_t start = i;
        while (i < line.size() && std::isspace(static_cast<unsigned char>(line[i])) == 0) {
            ++i;
        }
        if (i > start) {
            words.push_back(line.substr(start, i - start));
        }
    }
    return words;
}

// The key's upper-case letter, or 0 when it is not one of the machine's keys.
char machine_key(std::string_view word) {
    if (word.size() != 1) {
        return 0;
    }
    const auto key = static_cast<char>(std::toupper(static_cast<unsigned char>(word[0])));
    const bool known = std::any_of(input_keys.begin(), input_keys.end(),
                                   [key](const Input_Key& k) { return k.key == key; });
    return known ? key : 0;
}

} // namespace

std::string machine_keys_text(std::size_t width, std::string_view indent) {
    std::string text(indent);
    std::size_t line_start = 0;
    for (const auto& [key, bit, label] : input_keys) {
        const std::string item = std::string(1, key) + " (" + std::string(label) + ")";
        if (text.size() > line_start + indent.size()) {
            text += ",";
            if (text.size() + 1 + item.size() - line_start > width) {
                text += "\n";
                line_start = text.size();
                text += indent;
            } else {
                text += " ";
            }
        }
        text += item;
    }
    return text;
}

std::vector<Key_Event> parse_input_script(std::string_view text, const std::string& name) {
    std::vector<Key_Event> events;
    std::array<int, 256> pressed_on{}; // the line that pressed each held key, 0 when released
    int line_number = 0;
    std::size_t start = 0;
    while (start < text.size()) {
        const std::size_t end = std::min(text.find('\n', start), text.size());
        std::string_view line = text.substr(start, end - start);
        start = end + 1;
        ++line_number;
        const auto fail = [&](const std::string& what) {
            throw Tavrin::Exception{name + ":" + std::to_string(line_number) + ": " + what};
        };

        line = line.substr(0, line.find('#'));
        const auto words = words_of(line);
        if (words.empty()) {
            continue;
        }
        if (words.size() != 4 || words[0] != "at" ||
            (words[2] != "press" && words[2] != "release")) {
            std::string found(words[0]);
            for (std::size_t i = 1; i < words.size(); ++i) {
                found += ' ' + std::string(words[i]);
            }
            fail(std::string(form) + ", found \"" + found + "\"");
        }
        std::uint64_t frame = 0;
        const auto number = words[1];
        const auto [end_of_number, error] =
            std::from_chars(number.data(), number.data() + number.size(), frame);
        if (error != std::errc{} || end_of_number != number.data() + number.size()) {
            fail("the frame \"" + std::string(number) + "\" is not a whole number");
        }
        if (frame > max_script_frame) {
            fail("the frame " + std::string(number) + " is beyond the last one allowed, " +
                 std::to_string(max_script_frame));
        }
        const char key = machine_key(words[3]);
        if (key == 0) {
            fail("\"" + std::string(words[3]) + "\" is not a key of the machine; use one of " +
                 machine_keys_text());
        }
        if (!events.empty() && frame < events.back().frame) {
            fail("frame " + std::to_string(frame) + " comes after frame " +
                 std::to_string(events.back().frame) + " (line " +
                 std::to_string(events.back().line) +
                 "); list the events in the order of their "
                 "frames");
        }
        const bool press = words[2] == "press";
        int& pressed = pressed_on[static_cast<std::uint8_t>(key)];
        if (press && pressed != 0) {
            fail(std::string(1, key) + " is already pressed (line " + std::to_string(pressed) +
                 ")");
        }
        if (!press && pressed == 0) {
            fail(std::string(1, key) + " is released but was not pressed");
        }
        pressed = press ? line_number : 0;
        events.push_back({frame, key, press, line_number});
    }
    return events;
}

std::vector<Key_Event> read_input_script(const std::filesystem::path& path) {
    std::error_code error;
    if (std::filesystem::is_directory(path, error)) {
        throw Tavrin::Exception{"the input script " + path.string() +
                                " is a directory; give a text file of key events"};
    }
    std::ifstream file(path, std::ios::binary);
    if (!file) {
        throw Tavrin::Exception{"cannot read the input script " + path.string() +
                                ": no such file, or it is not readable"};
    }
    const std::string text{std::istreambuf_iterator<char>(file), std::istreambuf_iterator<char>()};
    if (file.bad()) {
        throw Tavrin::Exception{"could not read all of the input script " + path.string()};
    }
    return parse_input_script(text, path.string());
}

} // namespace Drovask

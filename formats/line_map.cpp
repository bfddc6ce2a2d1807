#include "formats/line_map.hpp"

#include "base/exception.hpp"
#include "formats/hex.hpp"
#include "formats/lines.hpp"

#include <algorithm>
#include <charconv>

namespace Formats {

namespace {

// "FILE:LINE" split at its last colon; the line is a positive decimal number.
std::optional<std::pair<std::string_view, int>> file_and_line(std::string_view text) {
    const std::size_t colon = text.rfind(':');
    if (colon == std::string_view::npos || colon == 0) {
        return std::nullopt;
    }
    const std::string_view digits = text.substr(colon + 1);
    int line = 0;
    const auto [end, error] = std::from_chars(digits.data(), digits.data() + digits.size(), line);
    if (digits.empty() || error != std::errc{} || end != digits.data() + digits.size() ||
        line < 1) {
        return std::nullopt;
    }
    return std::pair{text.substr(0, colon), line};
}

std::string_view name_alone(std::string_view path) {
    const std::size_t slash = path.find_last_of("/\\");
    return slash == std::string_view::npos ? path : path.substr(slash + 1);
}

} // namespace

Line_Map::Line_Map(std::vector<Entry> entries) : entries_(std::move(entries)) {
    std::stable_sort(entries_.begin(), entries_.end(),
                     [](const Entry& a, const Entry& b) { return a.address < b.address; });
}

std::string Line_Map::place_of(std::uint16_t address) const {
    const auto at = std::lower_bound(
        entries_.begin(), entries_.end(), address,
        [](const Entry& entry, std::uint16_t value) { return entry.address < value; });
    if (at == entries_.end() || at->address != address) {
        return {};
    }
    return at->file + ':' + std::to_string(at->line);
}

std::optional<std::uint16_t> Line_Map::address_of(std::string_view text) const {
    const auto wanted = file_and_line(text);
    if (!wanted) {
        return std::nullopt;
    }
    const auto [file, line] = *wanted;
    const bool by_name = name_alone(file) == file;
    for (const Entry& entry : entries_) {
        if (entry.line == line &&
            (entry.file == file || (by_name && name_alone(entry.file) == file))) {
            return entry.address;
        }
    }
    return std::nullopt;
}

Line_Map parse_line_map(std::string_view text, const std::string& file_name) {
    std::vector<Line_Map::Entry> entries;
    for_each_line(text, [&](std::string_view line, int line_number) {
        unsigned address = 0;
        const bool address_ok =
            line.size() > 5 && line[4] == ' ' &&
            std::from_chars(line.data(), line.data() + 4, address, 16).ptr == line.data() + 4;
        const auto place = address_ok ? file_and_line(line.substr(5)) : std::nullopt;
        if (!place) {
            throw Tavrin::Exception{file_name + ":" + std::to_string(line_number) +
                                    ": expected \"XXXX FILE:LINE\" (four hexadecimal digits, a "
                                    "space, the source file, a colon and its line), as asm8080 "
                                    "--lines writes"};
        }
        entries.push_back(
            {static_cast<std::uint16_t>(address), std::string(place->first), place->second});
    });
    return Line_Map(std::move(entries));
}

std::string format_line_map(const Line_Map& map) {
    std::string out;
    for (const Line_Map::Entry& entry : map.entries()) {
        out += hex(entry.address, 4);
        out += ' ';
        out += entry.file;
        out += ':';
        out += std::to_string(entry.line);
        out += '\n';
    }
    return out;
}

} // namespace Formats

#include "formats/symbols.hpp"

#include "base/exception.hpp"
#include "formats/hex.hpp"
#include "formats/lines.hpp"

#include <algorithm>
#include <cctype>
#include <charconv>

namespace Formats {

namespace {

std::string upper_case(std::string_view text) {
    std::string upper(text);
    for (char& c : upper) {
        c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
    }
    return upper;
}

bool by_value_then_name(const Symbol& a, const Symbol& b) {
    return a.value != b.value ? a.value < b.value : a.name < b.name;
}

std::optional<std::uint16_t> hexadecimal(std::string_view digits) {
    unsigned value = 0;
    const auto [end, error] =
        std::from_chars(digits.data(), digits.data() + digits.size(), value, 16);
    if (digits.empty() || error != std::errc{} || end != digits.data() + digits.size() ||
        value > 0xFFFF) {
        return std::nullopt;
    }
    return static_cast<std::uint16_t>(value);
}

} // namespace

std::string format_symbol_file(const std::map<std::string, std::uint16_t>& symbols,
                               const std::set<std::string>& values) {
    std::vector<Symbol> sorted;
    for (const auto& [name, value] : symbols) {
        sorted.push_back({value, name, !values.contains(name)});
    }
    std::sort(sorted.begin(), sorted.end(), by_value_then_name);
    std::string text;
    for (const Symbol& symbol : sorted) {
        text += hex(symbol.value, 4) + ' ' + symbol.name + (symbol.label ? "\n" : " EQU\n");
    }
    return text;
}

Symbols::Symbols(std::vector<Symbol> symbols) : symbols_(std::move(symbols)) {
    std::stable_sort(symbols_.begin(), symbols_.end(), by_value_then_name);
    for (const Symbol& symbol : symbols_) {
        by_name_.emplace(upper_case(symbol.name), symbol.value);
    }
}

const std::string* Symbols::name_of(std::uint16_t value) const {
    const auto below = [](const Symbol& symbol, std::uint16_t v) { return symbol.value < v; };
    const auto first = std::lower_bound(symbols_.begin(), symbols_.end(), value, below);
    const std::string* other = nullptr;
    for (auto at = first; at != symbols_.end() && at->value == value; ++at) {
        if (at->label) {
            return &at->name;
        }
        other = other != nullptr ? other : &at->name;
    }
    return other;
}

std::string Symbols::near_name(std::uint16_t address) const {
    if (const std::string* name = name_of(address)) {
        return *name;
    }
    const auto above = [](std::uint16_t v, const Symbol& symbol) { return v < symbol.value; };
    auto at = std::upper_bound(symbols_.begin(), symbols_.end(), address, above);
    while (at != symbols_.begin()) {
        --at;
        const unsigned offset = static_cast<unsigned>(address - at->value);
        if (offset > max_label_offset) {
            break;
        }
        if (at->label) {
            return at->name + "+" + std::to_string(offset);
        }
    }
    return {};
}

std::optional<std::uint16_t> Symbols::value_of(std::string_view name) const {
    const auto found = by_name_.find(upper_case(name));
    return found == by_name_.end() ? std::nullopt : std::optional{found->second};
}

Symbols parse_symbol_file(std::string_view text, const std::string& file_name) {
    std::vector<Symbol> symbols;
    for_each_line(text, [&](std::string_view line, int line_number) {
        const std::size_t space = line.find(' ');
        const auto value = hexadecimal(line.substr(0, std::min(space, line.size())));
        std::string_view name =
            space == std::string_view::npos ? std::string_view{} : line.substr(space + 1);
        const bool label = !name.ends_with(" EQU");
        if (!label) {
            name.remove_suffix(4);
        }
        const bool name_ok = !name.empty() && std::none_of(name.begin(), name.end(), [](char c) {
            return std::isspace(static_cast<unsigned char>(c)) != 0;
        });
        if (space != 4 || !value || !name_ok) {
            throw Tavrin::Exception{file_name + ":" + std::to_string(line_number) +
                                    ": expected \"XXXX NAME\" (four hexadecimal digits, a space, "
                                    "a name, and \" EQU\" after an EQU name), as asm8080 "
                                    "--symbols writes"};
        }
        symbols.push_back({*value, std::string(name), label});
    });
    return Symbols(std::move(symbols));
}

} // namespace Formats

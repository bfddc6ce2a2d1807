#include "tools/dis8080/source.hpp"

#include "base/exception.hpp"
#include "formats/hex.hpp"
#include "tools/asm8080/instructions.hpp"
#include "tools/disassembler/disassembler.hpp"

#include <algorithm>
#include <array>
#include <cctype>
#include <map>
#include <set>
#include <string_view>
#include <vector>

namespace Dis8080 {

namespace {

using Formats::hex;
using Formats::Symbol;
using Names = std::map<std::uint16_t, std::vector<std::string>>; // by address

// A stretch of the range written as one line: an instruction, or bytes written as DB (with why).
struct Piece {
    std::uint16_t address;
    std::uint8_t size;
    bool data;
    std::string note;
};

constexpr std::size_t operand_column = 8;
constexpr std::size_t comment_column = 32;

std::string upper_case(std::string_view text) {
    std::string upper(text);
    for (char& c : upper) {
        c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
    }
    return upper;
}

// A name as asm8080 reads one for a label written with its colon: a letter, _, ?, @ or . first,
// then those or digits, and not an operator word or a directive that names its statement.
bool usable_name(std::string_view name) {
    const auto starts = [](char c) {
        return std::isalpha(static_cast<unsigned char>(c)) != 0 || c == '_' || c == '?' ||
               c == '@' || c == '.';
    };
    const auto goes_on = [&](char c) {
        return starts(c) || std::isdigit(static_cast<unsigned char>(c)) != 0;
    };
    return !name.empty() && starts(name.front()) &&
           std::all_of(name.begin() + 1, name.end(), goes_on) &&
           Asm8080::may_be_colon_label(upper_case(name));
}

// The symbol file's labels, each name once; its EQU names may be ports, counts or RAM and never
// name a place in the program.
std::vector<Symbol> labels_of(const Formats::Symbols* symbols) {
    std::vector<Symbol> labels;
    if (symbols == nullptr) {
        return labels;
    }
    std::map<std::string, std::uint16_t> seen; // upper-case names
    for (const Symbol& symbol : symbols->all()) {
        if (!symbol.label) {
            continue;
        }
        if (!usable_name(symbol.name)) {
            throw Tavrin::Exception{
                "the symbol file's label \"" + symbol.name +
                "\" is not a name asm8080 takes (a letter, _, ?, @ or . "
                "first, then those or digits, and no operator word such as AND); "
                "give the symbol file that asm8080 --symbols wrote"};
        }
        const auto [at, added] = seen.emplace(upper_case(symbol.name), symbol.value);
        if (!added && at->second != symbol.value) {
            throw Tavrin::Exception{"the symbol file names two addresses " +
                                    Asm8080::hex_number(at->second, 4) + " and " +
                                    Asm8080::hex_number(symbol.value, 4) + " \"" + symbol.name +
                                    "\"; a label names one place"};
        }
        if (added) {
            labels.push_back(symbol);
        }
    }
    return labels;
}

class Source_Writer {
public:
    Source_Writer(const Image& image, Range range, const Formats::Symbols* symbols)
        : image_(image), range_(range), labels_(labels_of(symbols)) {
        for (const Symbol& label : labels_) {
            if (in_range(label.value)) {
                labels_here_[label.value].push_back(label.name);
            }
        }
    }

    std::string write() {
        cut_into_pieces();
        name_jump_targets();
        naming_ = Formats::Symbols(labels_);
        std::string body;
        for (const Piece& piece : pieces_) {
            write_piece(piece, body);
        }
        return outside_names() + std::string(operand_column, ' ') + "ORG " +
               Asm8080::hex_number(range_.first, 4) + "\n" + body;
    }

private:
    std::uint8_t byte(unsigned address) const { return image_.bytes[address - image_.base]; }

    bool in_range(unsigned address) const {
        return address >= range_.first && address <= range_.last;
    }

    std::string mnemonic(std::uint8_t opcode) const {
        const std::string text = Asm8080::disassemble({opcode, 0, 0}).text;
        return {text.begin(), std::find(text.begin(), text.end(), ' ')};
    }

    // Instructions where they fit whole; DB where an opcode has no mnemonic, or where an
    // instruction would run past the range's end or across a label (labels mark where code or
    // data starts, so the bytes before one are not an instruction that covers it).
    void cut_into_pieces() {
        unsigned address = range_.first;
        while (address <= range_.last) {
            const std::uint8_t opcode = byte(address);
            const unsigned size = static_cast<unsigned>(Asm8080::instruction_size(opcode));
            const auto next_label = labels_here_.upper_bound(static_cast<std::uint16_t>(address));
            const unsigned end = address + size;
            Piece piece{
                static_cast<std::uint16_t>(address), static_cast<std::uint8_t>(size), false, {}};
            if (!Asm8080::has_mnemonic(opcode)) {
                piece.data = true;
                piece.note = "no mnemonic has this opcode";
            } else if (end > range_.last + 1u) {
                piece = {piece.address, static_cast<std::uint8_t>(range_.last + 1u - address), true,
                         mnemonic(opcode) + " cut off by the end"};
            } else if (next_label != labels_here_.end() && next_label->first < end) {
                piece = {piece.address, static_cast<std::uint8_t>(next_label->first - address),
                         true,
                         mnemonic(opcode) + " cut off by the label " + next_label->second.front()};
            }
            pieces_.push_back(piece);
            address += piece.size;
        }
    }

    // A jump or call into the range where no label is gets one: L and the address, unless the
    // symbol file has taken that name.
    void name_jump_targets() {
        std::set<std::string> taken;
        for (const Symbol& label : labels_) {
            taken.insert(upper_case(label.name));
        }
        std::set<std::uint16_t> starts;
        for (const Piece& piece : pieces_) {
            starts.insert(piece.address);
        }
        std::set<std::uint16_t> targets;
        for (const Piece& piece : pieces_) {
            const std::uint8_t opcode = byte(piece.address);
            // JMP, CALL, and the conditional ones: Jcc is 11ccc010, Ccc 11ccc100.
            const bool jump_or_call = opcode == 0xC3 || opcode == 0xCD || (opcode & 0xC7) == 0xC2 ||
                                      (opcode & 0xC7) == 0xC4;
            if (!piece.data && jump_or_call) {
                const auto target = static_cast<std::uint16_t>(byte(piece.address + 1u) |
                                                               byte(piece.address + 2u) << 8);
                if (starts.contains(target) && !labels_here_.contains(target)) {
                    targets.insert(target);
                }
            }
        }
        for (const std::uint16_t target : targets) {
            std::string name = "L" + hex(target, 4);
            for (int suffix = 1; taken.contains(name); ++suffix) {
                name = "L" + hex(target, 4) + "_" + std::to_string(suffix);
            }
            taken.insert(name);
            labels_.push_back({target, name, true});
            labels_here_[target].push_back(name);
        }
    }

    void write_piece(const Piece& piece, std::string& out) {
        if (const auto names = labels_here_.find(piece.address); names != labels_here_.end()) {
            for (const std::string& name : names->second) {
                out += name + ":\n";
            }
        }
        std::array<std::uint8_t, 3> bytes{};
        for (unsigned i = 0; i < piece.size; ++i) {
            bytes[i] = byte(piece.address + i);
        }
        std::string text;
        if (piece.data) {
            text = "DB ";
            for (unsigned i = 0; i < piece.size; ++i) {
                text += (i == 0 ? "" : ",") + Asm8080::hex_number(bytes[i], 2);
            }
        } else {
            text = Asm8080::disassemble(bytes, &naming_).text;
            if (piece.size == 3) {
                note_outside_name(static_cast<std::uint16_t>(bytes[1] | bytes[2] << 8));
            }
        }
        std::string line = std::string(operand_column, ' ') + text;
        line.resize(std::max(comment_column, line.size() + 1), ' ');
        line += "; " + hex(piece.address, 4) + " ";
        for (unsigned i = 0; i < piece.size; ++i) {
            line += " " + hex(bytes[i], 2);
        }
        out += line + (piece.note.empty() ? "" : "  " + piece.note) + "\n";
    }

    // An operand named by a label outside the range needs the name defined.
    void note_outside_name(std::uint16_t value) {
        if (const std::string* name = naming_.name_of(value); name != nullptr && !in_range(value)) {
            outside_.emplace(*name, value);
        }
    }

    std::string outside_names() const {
        std::vector<std::pair<std::uint16_t, std::string>> sorted;
        for (const auto& [name, value] : outside_) {
            sorted.emplace_back(value, name);
        }
        std::sort(sorted.begin(), sorted.end());
        std::string text;
        for (const auto& [value, name] : sorted) {
            // A reserved word ("daa") names a symbol only when written with its colon.
            const bool reserved = Asm8080::is_reserved(upper_case(name));
            text += name + (reserved ? ": EQU " : " EQU ") + Asm8080::hex_number(value, 4) + "\n";
        }
        return text;
    }

    const Image& image_;
    Range range_;
    std::vector<Symbol> labels_; // the symbol file's, then the jump targets'
    Names labels_here_;          // the names of the labels in the range
    std::vector<Piece> pieces_;
    Formats::Symbols naming_;
    std::map<std::string, std::uint16_t> outside_;
};

} // namespace

std::string program_source(const Image& image, Range range, const Formats::Symbols* symbols) {
    return Source_Writer(image, range, symbols).write();
}

} // namespace Dis8080

#include "tools/drovask-dap/expressions.hpp"

#include "base/exception.hpp"

#include <cctype>

namespace Dap {

namespace {

[[noreturn]] void refuse(const std::string& message) {
    throw Tavrin::Exception{message};
}

// Reads a sum of terms from left to right.
class Expression {
public:
    Expression(std::string_view text, const Intel_8080& p, const Formats::Symbols& symbols)
        : text_(text), p_(p), symbols_(symbols) {}

    unsigned value() {
        const unsigned v = sum();
        skip_space();
        if (at_ < text_.size()) {
            refuse("cannot read '" + std::string(text_.substr(at_)) + "' in '" +
                   std::string(text_) + "'");
        }
        return v & 0xFFFF;
    }

private:
    void skip_space() {
        while (at_ < text_.size() && text_[at_] == ' ') {
            ++at_;
        }
    }

    unsigned sum() {
        unsigned v = term();
        for (;;) {
            skip_space();
            if (at_ < text_.size() && (text_[at_] == '+' || text_[at_] == '-')) {
                const bool add = text_[at_++] == '+';
                const unsigned t = term();
                v = add ? v + t : v - t;
            } else {
                return v & 0xFFFF;
            }
        }
    }

    void expect(char close) {
        skip_space();
        if (at_ >= text_.size() || text_[at_] != close) {
            refuse(std::string("expected '") + close + "' in '" + std::string(text_) + "'");
        }
        ++at_;
    }

    unsigned term() {
        skip_space();
        if (at_ >= text_.size()) {
            refuse("an expression ends where a value should be: '" + std::string(text_) + "'");
        }
        const char c = text_[at_];
        if (c == '[' || c == '(') {
            ++at_;
            const unsigned v = sum();
            expect(c == '[' ? ']' : ')');
            return c == '[' ? p_.memory[v & 0xFFFF] : v;
        }
        if (c == '$') {
            ++at_;
            return p_.pc;
        }
        if (c == '-') {
            ++at_;
            return (0x10000 - term()) & 0xFFFF;
        }
        std::size_t end = at_;
        while (end < text_.size() &&
               (std::isalnum(static_cast<unsigned char>(text_[end])) || text_[end] == '_' ||
                text_[end] == '?' || text_[end] == '@')) {
            ++end;
        }
        const std::string word(text_.substr(at_, end - at_));
        at_ = end;
        if (word.empty()) {
            refuse("cannot read '" + std::string(text_) + "'");
        }
        if (std::isdigit(static_cast<unsigned char>(word[0]))) {
            return number(word);
        }
        if (const auto v = read_register(p_, word)) {
            return *v;
        }
        if (const auto v = symbols_.value_of(word)) {
            return *v;
        }
        refuse("no register or symbol is named '" + word + "'");
    }

    static unsigned number(const std::string& word) {
        std::string digits = word;
        int base = 10;
        if (digits.size() > 2 && digits[0] == '0' && (digits[1] == 'x' || digits[1] == 'X')) {
            digits = digits.substr(2), base = 16;
        } else if (digits.back() == 'h' || digits.back() == 'H') {
            digits.pop_back(), base = 16;
        }
        unsigned long v = 0;
        for (const char d : digits) {
            const int digit = std::isdigit(static_cast<unsigned char>(d))
                                  ? d - '0'
                                  : (std::isxdigit(static_cast<unsigned char>(d))
                                         ? std::toupper(static_cast<unsigned char>(d)) - 'A' + 10
                                         : 99);
            if (digit >= base || v > 0xFFFF) {
                refuse("'" + word + "' is not a number");
            }
            v = v * static_cast<unsigned>(base) + static_cast<unsigned>(digit);
        }
        if (v > 0xFFFF) {
            refuse("'" + word + "' is more than 16 bits");
        }
        return static_cast<unsigned>(v);
    }

    std::string_view text_;
    const Intel_8080& p_;
    const Formats::Symbols& symbols_;
    std::size_t at_ = 0;
};

} // namespace

std::string upper(std::string_view text) {
    std::string out(text);
    for (char& c : out) {
        c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
    }
    return out;
}

// A register's value, or a flag's 0 or 1.
std::optional<unsigned> read_register(const Intel_8080& p, std::string_view name) {
    if (const Register* r = named(registers, name)) {
        return r->read(p);
    }
    if (const Flag* f = named(flags, name)) {
        return (p.flags & f->mask) != 0 ? 1u : 0u;
    }
    return std::nullopt;
}

// False when no register or flag has the name.
bool write_register(Intel_8080& p, std::string_view name, unsigned value) {
    if (const Register* r = named(registers, name)) {
        r->write(p, value);
        return true;
    }
    if (const Flag* f = named(flags, name)) {
        if (value > 1) {
            refuse("a flag is 0 or 1");
        }
        p.flags = static_cast<std::uint8_t>(value != 0 ? p.flags | f->mask : p.flags & ~f->mask);
        return true;
    }
    return false;
}

unsigned evaluate(std::string_view text, const Intel_8080& p, const Formats::Symbols& symbols) {
    return Expression(text, p, symbols).value();
}

} // namespace Dap

#include "formats/json.hpp"

#include "base/exception.hpp"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstdlib>

namespace Formats {

const Json* Json::find(std::string_view name) const {
    for (const auto& [key, value] : object_) {
        if (key == name) {
            return &value;
        }
    }
    return nullptr;
}

void Json::set(std::string_view name, Json value) {
    if (kind_ == Kind::null) {
        kind_ = Kind::object;
    }
    for (auto& [key, old] : object_) {
        if (key == name) {
            old = std::move(value);
            return;
        }
    }
    object_.emplace_back(std::string(name), std::move(value));
}

void Json::push_back(Json value) {
    if (kind_ == Kind::null) {
        kind_ = Kind::array;
    }
    array_.push_back(std::move(value));
}

namespace {

class Reader {
public:
    Reader(std::string_view text, const std::string& name) : text_(text), name_(name) {}

    Json document() {
        if (text_.size() > max_json_size) {
            fail("the text is longer than " + std::to_string(max_json_size) + " bytes");
        }
        skip_space();
        Json value = read_value(0);
        skip_space();
        if (at_ < text_.size()) {
            fail("text after the value");
        }
        return value;
    }

private:
    [[noreturn]] void fail(const std::string& what) const {
        int line = 1;
        std::size_t line_start = 0;
        for (std::size_t i = 0; i < at_ && i < text_.size(); ++i) {
            if (text_[i] == '\n') {
                ++line;
                line_start = i + 1;
            }
        }
        throw Tavrin::Exception{name_ + ": line " + std::to_string(line) + ", column " +
                                std::to_string(at_ - line_start + 1) + ": " + what};
    }

    bool at_end() const { return at_ >= text_.size(); }
    char peek() const { return at_end() ? '\0' : text_[at_]; }

    void skip_space() {
        while (!at_end() && (peek() == ' ' || peek() == '\t' || peek() == '\n' || peek() == '\r')) {
            ++at_;
        }
    }

    void expect_word(std::string_view word) {
        if (text_.substr(at_, word.size()) != word) {
            fail("expected a value");
        }
        at_ += word.size();
    }

    Json read_value(int depth) {
        if (at_end()) {
            fail("the text ends where a value should be");
        }
        switch (peek()) {
        case '{':
            return read_object(depth + 1);
        case '[':
            return read_array(depth + 1);
        case '"':
            return read_string();
        case 't':
            expect_word("true");
            return true;
        case 'f':
            expect_word("false");
            return false;
        case 'n':
            expect_word("null");
            return nullptr;
        default:
            return read_number();
        }
    }

    void check_depth(int depth) const {
        if (depth > max_json_depth) {
            fail("nested more than " + std::to_string(max_json_depth) + " deep");
        }
    }

    Json read_array(int depth) {
        check_depth(depth);
        ++at_; // [
        Json::Array items;
        skip_space();
        if (peek() == ']') {
            ++at_;
            return items;
        }
        for (;;) {
            skip_space();
            items.push_back(read_value(depth));
            skip_space();
            if (peek() == ',') {
                ++at_;
            } else if (peek() == ']') {
                ++at_;
                return items;
            } else {
                fail(at_end() ? "the text ends inside an array" : "expected ',' or ']'");
            }
        }
    }

    Json read_object(int depth) {
        check_depth(depth);
        ++at_; // {
        Json::Object members;
        skip_space();
        if (peek() == '}') {
            ++at_;
            return members;
        }
        for (;;) {
            skip_space();
            if (peek() != '"') {
                fail(at_end() ? "the text ends inside an object" : "expected a member's name");
            }
            std::string name = read_string().string();
            skip_space();
            if (peek() != ':') {
                fail("expected ':' after a member's name");
            }
            ++at_;
            skip_space();
            members.emplace_back(std::move(name), read_value(depth));
            skip_space();
            if (peek() == ',') {
                ++at_;
            } else if (peek() == '}') {
                ++at_;
                check_names(members);
                return members;
            } else {
                fail(at_end() ? "the text ends inside an object" : "expected ',' or '}'");
            }
        }
    }

    // Names given twice are refused: readers disagree on which value counts.
    void check_names(const Json::Object& members) const {
        std::vector<std::string_view> names;
        names.reserve(members.size());
        for (const auto& member : members) {
            names.push_back(member.first);
        }
        std::sort(names.begin(), names.end());
        if (const auto twice = std::adjacent_find(names.begin(), names.end());
            twice != names.end()) {
            fail("the member \"" + std::string(*twice) + "\" given twice in an object");
        }
    }

    Json read_number() {
        const std::size_t start = at_;
        auto digits = [&] {
            const std::size_t first = at_;
            while (!at_end() && peek() >= '0' && peek() <= '9') {
                ++at_;
            }
            return at_ - first;
        };
        if (peek() == '-') {
            ++at_;
        }
        const std::size_t integer_start = at_;
        const std::size_t integer_digits = digits();
        if (integer_digits == 0) {
            fail(start == at_ ? "expected a value" : "expected a digit");
        }
        if (integer_digits > 1 && text_[integer_start] == '0') {
            at_ = integer_start;
            fail("a number does not start with 0");
        }
        if (peek() == '.') {
            ++at_;
            if (digits() == 0) {
                fail("expected a digit after '.'");
            }
        }
        if (peek() == 'e' || peek() == 'E') {
            ++at_;
            if (peek() == '+' || peek() == '-') {
                ++at_;
            }
            if (digits() == 0) {
                fail("expected a digit in the exponent");
            }
        }
        // The text is a JSON number, which strtod reads in the "C" locale that every program
        // here keeps (std::from_chars for double is missing from the browser build's library).
        const std::string number(text_.substr(start, at_ - start));
        const double value = std::strtod(number.c_str(), nullptr);
        if (std::isinf(value)) {
            at_ = start;
            fail("a number too large"); // too small is 0; too large has no value to agree on
        }
        return value;
    }

    unsigned read_hex4() {
        unsigned value = 0;
        for (int i = 0; i < 4; ++i) {
            const char c = peek();
            unsigned digit = 0;
            if (c >= '0' && c <= '9') {
                digit = static_cast<unsigned>(c - '0');
            } else if (c >= 'a' && c <= 'f') {
                digit = static_cast<unsigned>(c - 'a' + 10);
            } else if (c >= 'A' && c <= 'F') {
                digit = static_cast<unsigned>(c - 'A' + 10);
            } else {
                fail("expected four hexadecimal digits after \\u");
            }
            value = value * 16 + digit;
            ++at_;
        }
        return value;
    }

    static void append_utf8(std::string& out, unsigned code) {
        if (code < 0x80) {
            out += static_cast<char>(code);
        } else if (code < 0x800) {
            out += static_cast<char>(0xC0 | (code >> 6));
            out += static_cast<char>(0x80 | (code & 0x3F));
        } else if (code < 0x10000) {
            out += static_cast<char>(0xE0 | (code >> 12));
            out += static_cast<char>(0x80 | ((code >> 6) & 0x3F));
            out += static_cast<char>(0x80 | (code & 0x3F));
        } else {
            out += static_cast<char>(0xF0 | (code >> 18));
            out += static_cast<char>(0x80 | ((code >> 12) & 0x3F));
            out += static_cast<char>(0x80 | ((code >> 6) & 0x3F));
            out += static_cast<char>(0x80 | (code & 0x3F));
        }
    }

    // After a '\u': the character it stands for, a surrogate pair read whole.
    unsigned read_escaped_character() {
        const unsigned first = read_hex4();
        if (first >= 0xDC00 && first <= 0xDFFF) {
            fail("a low surrogate without a high one before it");
        }
        if (first < 0xD800 || first > 0xDBFF) {
            return first;
        }
        if (text_.substr(at_, 2) != "\\u") {
            fail("a high surrogate without a low one after it");
        }
        at_ += 2;
        const unsigned second = read_hex4();
        if (second < 0xDC00 || second > 0xDFFF) {
            fail("a high surrogate without a low one after it");
        }
        return 0x10000 + ((first - 0xD800) << 10) + (second - 0xDC00);
    }

    // One UTF-8 sequence as it stands in the text, checked: no overlong forms, no surrogates,
    // nothing past U+10FFFF.
    void copy_utf8(std::string& out) {
        const auto lead = static_cast<unsigned char>(peek());
        std::size_t length = 0;
        unsigned code = 0;
        unsigned least = 0;
        if (lead >= 0xC2 && lead <= 0xDF) {
            length = 2, code = lead & 0x1F, least = 0x80;
        } else if (lead >= 0xE0 && lead <= 0xEF) {
            length = 3, code = lead & 0x0F, least = 0x800;
        } else if (lead >= 0xF0 && lead <= 0xF4) {
            length = 4, code = lead & 0x07, least = 0x10000;
        } else {
            fail("text that is not UTF-8");
        }
        for (std::size_t i = 1; i < length; ++i) {
            if (at_ + i >= text_.size() ||
                (static_cast<unsigned char>(text_[at_ + i]) & 0xC0) != 0x80) {
                fail("text that is not UTF-8");
            }
            code = (code << 6) | (static_cast<unsigned char>(text_[at_ + i]) & 0x3F);
        }
        if (code < least || code > 0x10FFFF || (code >= 0xD800 && code <= 0xDFFF)) {
            fail("text that is not UTF-8");
        }
        out.append(text_.substr(at_, length));
        at_ += length;
    }

    Json read_string() {
        ++at_; // "
        std::string out;
        for (;;) {
            if (at_end()) {
                fail("the text ends inside a string");
            }
            const char c = peek();
            if (c == '"') {
                ++at_;
                return out;
            }
            if (static_cast<unsigned char>(c) < 0x20) {
                fail("a control character inside a string (write it as an escape)");
            }
            if (static_cast<unsigned char>(c) >= 0x80) {
                copy_utf8(out);
                continue;
            }
            ++at_;
            if (c != '\\') {
                out += c;
                continue;
            }
            const char escape = peek();
            ++at_;
            switch (escape) {
            case '"':
                out += '"';
                break;
            case '\\':
                out += '\\';
                break;
            case '/':
                out += '/';
                break;
            case 'b':
                out += '\b';
                break;
            case 'f':
                out += '\f';
                break;
            case 'n':
                out += '\n';
                break;
            case 'r':
                out += '\r';
                break;
            case 't':
                out += '\t';
                break;
            case 'u':
                append_utf8(out, read_escaped_character());
                break;
            default:
                --at_;
                fail("an unknown escape in a string");
            }
        }
    }

    std::string_view text_;
    const std::string& name_;
    std::size_t at_ = 0;
};

void write_string(std::string& out, const std::string& text) {
    out += json_string(text);
}

void write_number(std::string& out, double value) {
    if (!std::isfinite(value)) {
        out += "null";
        return;
    }
    char text[32];
    if (value == std::floor(value) && std::abs(value) <= 9007199254740992.0) {
        std::snprintf(text, sizeof text, "%.0f", value == 0 ? 0.0 : value); // no "-0"
    } else {
        std::snprintf(text, sizeof text, "%.17g", value);
    }
    out += text;
}

void write_value(std::string& out, const Json& value) {
    switch (value.kind()) {
    case Json::Kind::null:
        out += "null";
        return;
    case Json::Kind::boolean:
        out += value.boolean() ? "true" : "false";
        return;
    case Json::Kind::number:
        write_number(out, value.number());
        return;
    case Json::Kind::string:
        write_string(out, value.string());
        return;
    case Json::Kind::array: {
        out += '[';
        const char* separator = "";
        for (const Json& item : value.array()) {
            out += separator;
            write_value(out, item);
            separator = ",";
        }
        out += ']';
        return;
    }
    case Json::Kind::object: {
        out += '{';
        const char* separator = "";
        for (const auto& [name, member] : value.object()) {
            out += separator;
            write_string(out, name);
            out += ':';
            write_value(out, member);
            separator = ",";
        }
        out += '}';
        return;
    }
    }
}

} // namespace

Json parse_json(std::string_view text, const std::string& name) {
    return Reader(text, name).document();
}

std::string format_json(const Json& value) {
    std::string out;
    write_value(out, value);
    return out;
}

std::string json_string(std::string_view text) {
    std::string quoted = "\"";
    quoted.reserve(text.size() + 2);
    for (const char c : text) {
        switch (c) {
        case '"':
            quoted += "\\\"";
            break;
        case '\\':
            quoted += "\\\\";
            break;
        case '\n':
            quoted += "\\n";
            break;
        case '\r':
            quoted += "\\r";
            break;
        case '\t':
            quoted += "\\t";
            break;
        default:
            if (static_cast<unsigned char>(c) < 0x20) {
                char escape[8];
                std::snprintf(escape, sizeof escape, "\\u%04x", static_cast<unsigned>(c));
                quoted += escape;
            } else {
                quoted += c;
            }
        }
    }
    return quoted + '"';
}

} // namespace Formats

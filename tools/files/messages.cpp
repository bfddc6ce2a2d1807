#include "tools/files/messages.hpp"

#include "base/exception.hpp"
#include "formats/hex.hpp"

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <iostream>

namespace Tools {

namespace {

constexpr std::size_t kept_head = 300;
constexpr std::size_t kept_tail = 80;

bool continuation(unsigned char byte) {
    return byte >= 0x80 && byte <= 0xBF;
}

// The length of the UTF-8 character at the start of `text` when it is one that a terminal shows
// as a character, or 0: malformed, overlong, a surrogate, beyond U+10FFFF or a C1 control
// character (U+0080 to U+009F, which some terminals obey like ESC).
std::size_t character_length(std::string_view text) {
    const auto byte = [&text](std::size_t i) { return static_cast<unsigned char>(text[i]); };
    const unsigned char lead = byte(0);
    std::size_t length = 0;
    unsigned char low = 0x80; // the range of the second byte
    unsigned char high = 0xBF;
    if (lead >= 0xC2 && lead <= 0xDF) {
        length = 2;
        low = lead == 0xC2 ? 0xA0 : 0x80;
    } else if (lead >= 0xE0 && lead <= 0xEF) {
        length = 3;
        low = lead == 0xE0 ? 0xA0 : 0x80;
        high = lead == 0xED ? 0x9F : 0xBF;
    } else if (lead >= 0xF0 && lead <= 0xF4) {
        length = 4;
        low = lead == 0xF0 ? 0x90 : 0x80;
        high = lead == 0xF4 ? 0x8F : 0xBF;
    }
    if (length == 0 || text.size() < length || byte(1) < low || byte(1) > high) {
        return 0;
    }
    for (std::size_t i = 2; i < length; ++i) {
        if (!continuation(byte(i))) {
            return 0;
        }
    }
    return length;
}

void append_escaped(std::string& out, std::string_view text) {
    std::size_t i = 0;
    while (i < text.size()) {
        const auto byte = static_cast<unsigned char>(text[i]);
        std::size_t length = byte >= 0x20 && byte < 0x7F ? 1 : 0;
        if (byte >= 0x80) {
            length = character_length(text.substr(i));
        }
        if (length == 0) {
            out += "\\x" + Formats::hex(byte, 2);
            length = 1;
        } else {
            out.append(text.substr(i, length));
        }
        i += length;
    }
}

} // namespace

std::string printable(std::string_view text) {
    std::string out;
    if (text.size() <= longest_printable) {
        append_escaped(out, text);
        return out;
    }
    // Cut between characters, not inside one.
    std::size_t head = kept_head;
    while (head > 0 && continuation(static_cast<unsigned char>(text[head]))) {
        --head;
    }
    std::size_t tail = text.size() - kept_tail;
    while (tail < text.size() && continuation(static_cast<unsigned char>(text[tail]))) {
        ++tail;
    }
    append_escaped(out, text.substr(0, head));
    out += " [... " + std::to_string(tail - head) + " bytes left out ...] ";
    append_escaped(out, text.substr(tail));
    return out;
}

bool standard_output_written(std::string_view program) {
    errno = 0;
    std::cout.flush(); // which flushes stdout too, and reports its error only the first time
    const bool flushed = std::fflush(stdout) == 0;
    const int error = errno;
    if (flushed && std::cout.good() && std::ferror(stdout) == 0) {
        return true;
    }
    std::cerr << program << ": could not write standard output"
              << (error != 0 ? std::string(": ") + std::strerror(error) : std::string()) << '\n';
    return false;
}

int run_tool(std::string_view program, std::string_view usage, int argc, char** argv,
             Tool_Statuses statuses, const std::function<int()>& run) {
    int status = statuses.refused;
    if (std::any_of(argv + 1, argv + argc, [](const char* argument) {
            return std::string_view(argument) == "--help" || std::string_view(argument) == "-h";
        })) {
        std::cout << usage;
        status = 0;
    } else {
        try {
            status = run();
        } catch (const Tavrin::Exception& exception) {
            std::cerr << program << ": " << printable(exception.message) << '\n';
        }
    }
    return standard_output_written(program) ? status : statuses.failed;
}

} // namespace Tools

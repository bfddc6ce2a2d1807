#include "tools/drovask-dap/framing.hpp"

#include "base/exception.hpp"

#include <cctype>

namespace Dap {

namespace {

[[noreturn]] void broken(const std::string& what) {
    throw Tavrin::Exception{"a broken message frame: " + what};
}

bool same_name(std::string_view a, std::string_view b) {
    if (a.size() != b.size()) {
        return false;
    }
    for (std::size_t i = 0; i < a.size(); ++i) {
        if (std::tolower(static_cast<unsigned char>(a[i])) !=
            std::tolower(static_cast<unsigned char>(b[i]))) {
            return false;
        }
    }
    return true;
}

std::string_view trimmed(std::string_view text) {
    while (!text.empty() && (text.front() == ' ' || text.front() == '\t')) {
        text.remove_prefix(1);
    }
    while (!text.empty() && (text.back() == ' ' || text.back() == '\t')) {
        text.remove_suffix(1);
    }
    return text;
}

std::size_t content_length(std::string_view value) {
    if (value.empty() || value.size() > 9) {
        broken("Content-Length is not a number of bytes up to " + std::to_string(max_body_size));
    }
    std::size_t size = 0;
    for (const char c : value) {
        if (c < '0' || c > '9') {
            broken("Content-Length is not a number: \"" + std::string(value) + "\"");
        }
        size = size * 10 + static_cast<std::size_t>(c - '0');
    }
    if (size > max_body_size) {
        broken("Content-Length " + std::to_string(size) + " is more than " +
               std::to_string(max_body_size));
    }
    return size;
}

// The body size that the header (its lines, without the empty line) gives.
std::size_t read_header(std::string_view header) {
    std::optional<std::size_t> size;
    while (!header.empty()) {
        const std::size_t end = header.find("\r\n");
        const std::string_view line = header.substr(0, end);
        header.remove_prefix(end == std::string_view::npos ? header.size() : end + 2);
        const std::size_t colon = line.find(':');
        if (colon == std::string_view::npos) {
            broken("a header line without a colon");
        }
        if (same_name(trimmed(line.substr(0, colon)), "Content-Length")) {
            size = content_length(trimmed(line.substr(colon + 1)));
        }
    }
    if (!size) {
        broken("a header without Content-Length");
    }
    return *size;
}

} // namespace

std::optional<std::string> Frame_Reader::next() {
    if (!body_size_) {
        const std::size_t end = buffer_.find("\r\n\r\n");
        if (end == std::string::npos) {
            if (buffer_.size() > max_header_size) {
                broken("a header longer than " + std::to_string(max_header_size) + " bytes");
            }
            return std::nullopt;
        }
        if (end > max_header_size) {
            broken("a header longer than " + std::to_string(max_header_size) + " bytes");
        }
        body_size_ = read_header(std::string_view(buffer_).substr(0, end));
        buffer_.erase(0, end + 4);
    }
    if (buffer_.size() < *body_size_) {
        return std::nullopt;
    }
    std::string body = buffer_.substr(0, *body_size_);
    buffer_.erase(0, *body_size_);
    body_size_.reset();
    return body;
}

std::string frame(std::string_view body) {
    return "Content-Length: " + std::to_string(body.size()) + "\r\n\r\n" + std::string(body);
}

} // namespace Dap

#pragma once

// The adapter's messages as they travel: each a header of "Name: value" lines ending in an empty
// line, with "Content-Length: N" giving the bytes of the JSON body after it.
//
//     Dap::Frame_Reader reader;
//     reader.add(bytes_read);               // whatever a read gave, split anywhere
//     while (const auto body = reader.next()) {
//         handle(*body);                    // one message's JSON text
//     }
//     write_all(fd, Dap::frame(json_text)); // "Content-Length: 17\r\n\r\n{...}"
//
// A frame that is broken (a header line without a colon, no Content-Length, one that is not a
// number or too large, a header that never ends) throws Tavrin::Exception: after that, where the
// next message starts cannot be known, so the adapter ends with the message.

#include <cstddef>
#include <optional>
#include <string>
#include <string_view>

namespace Dap {

inline constexpr std::size_t max_header_size = 8 * 1024;
inline constexpr std::size_t max_body_size = 16 << 20;

class Frame_Reader {
public:
    void add(std::string_view bytes) { buffer_.append(bytes); }

    // The next whole message's body, or nothing until more bytes come.
    std::optional<std::string> next();

    // Bytes received but not yet a whole message (at the end of input: a frame cut short).
    std::size_t waiting() const { return buffer_.size(); }

private:
    std::string buffer_;
    std::optional<std::size_t> body_size_; // once the header is read
};

// The frame that carries `body`.
std::string frame(std::string_view body);

} // namespace Dap

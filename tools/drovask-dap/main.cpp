// drovask-dap: the machine under an editor's debugger. See `usage` below.

#include "base/exception.hpp"
#include "tools/drovask-dap/adapter.hpp"
#include "tools/drovask-dap/framing.hpp"
#include "tools/files/messages.hpp"

#include <arpa/inet.h>
#include <cerrno>
#include <csignal>
#include <cstring>
#include <iostream>
#include <netinet/in.h>
#include <poll.h>
#include <string>
#include <sys/socket.h>
#include <unistd.h>
#include <utility>

namespace {

const std::string usage = R"(Usage: drovask-dap [--port N]
Speaks the Debug Adapter Protocol on standard input and output, for an editor that starts it; with
--port N it waits instead for one editor to connect to 127.0.0.1:N and speaks with it there.
The launch request's arguments:
  program       an 8,192-byte ROM image, or an .asm source that it assembles
  symbols, lines   asm8080's --symbols and --lines files (an .asm source gives its own)
  stopOnEntry   stop before the first instruction
  keys          a key script to play ("at FRAME press|release KEY" a line)
  picture       a PNG file that shows the picture at every stop
A broken message frame ends it with exit status 1 and the reason on standard error.
)";

// A file descriptor that closes itself.
class Descriptor {
public:
    explicit Descriptor(int fd = -1) : fd_(fd) {}
    Descriptor(Descriptor&& other) noexcept : fd_(std::exchange(other.fd_, -1)) {}
    Descriptor& operator=(Descriptor&& other) noexcept {
        std::swap(fd_, other.fd_);
        return *this;
    }
    ~Descriptor() {
        if (fd_ > 2) {
            ::close(fd_);
        }
    }
    int get() const { return fd_; }

private:
    int fd_;
};

void write_all(int fd, const std::string& bytes) {
    std::size_t done = 0;
    while (done < bytes.size()) {
        const ssize_t n = ::write(fd, bytes.data() + done, bytes.size() - done);
        if (n < 0 && errno == EINTR) {
            continue;
        }
        if (n <= 0) {
            throw Tavrin::Exception{std::string("cannot write to the editor: ") +
                                    std::strerror(errno)};
        }
        done += static_cast<std::size_t>(n);
    }
}

// Waits for one editor on 127.0.0.1:port.
Descriptor accept_one(int port) {
    Descriptor listener(::socket(AF_INET, SOCK_STREAM, 0));
    if (listener.get() < 0) {
        throw Tavrin::Exception{std::string("cannot open a socket: ") + std::strerror(errno)};
    }
    const int yes = 1;
    ::setsockopt(listener.get(), SOL_SOCKET, SO_REUSEADDR, &yes, sizeof yes);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_port = htons(static_cast<std::uint16_t>(port));
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    if (::bind(listener.get(), reinterpret_cast<const sockaddr*>(&address), sizeof address) != 0 ||
        ::listen(listener.get(), 1) != 0) {
        throw Tavrin::Exception{"cannot listen on 127.0.0.1:" + std::to_string(port) + ": " +
                                std::strerror(errno)};
    }
    std::cerr << "drovask-dap: waiting for an editor on 127.0.0.1:" << port << '\n';
    Descriptor connection(::accept(listener.get(), nullptr, nullptr));
    if (connection.get() < 0) {
        throw Tavrin::Exception{std::string("cannot accept a connection: ") + std::strerror(errno)};
    }
    return connection;
}

// Reads what has come, waiting up to `timeout_ms` (-1: until something comes); false at the end
// of the input.
bool read_some(int fd, Dap::Frame_Reader& reader, int timeout_ms) {
    pollfd wanted{fd, POLLIN, 0};
    const int ready = ::poll(&wanted, 1, timeout_ms);
    if (ready < 0 && errno == EINTR) {
        return true;
    }
    if (ready <= 0) {
        return ready == 0;
    }
    char buffer[65536];
    const ssize_t n = ::read(fd, buffer, sizeof buffer);
    if (n < 0 && errno == EINTR) {
        return true;
    }
    if (n <= 0) {
        return false;
    }
    reader.add(std::string_view(buffer, static_cast<std::size_t>(n)));
    return true;
}

int serve(int in, int out) {
    Dap::Frame_Reader reader;
    Dap::Adapter adapter([&](const Formats::Json& message) {
        write_all(out, Dap::frame(Formats::format_json(message)));
    });
    for (;;) {
        while (const auto body = reader.next()) {
            adapter.receive(*body);
            if (adapter.finished()) {
                return 0;
            }
        }
        if (adapter.running()) {
            adapter.run_slice();
        }
        if (!read_some(in, reader, adapter.running() ? 0 : -1)) {
            if (reader.waiting() > 0) {
                throw Tavrin::Exception{"the input ended inside a message (" +
                                        std::to_string(reader.waiting()) + " bytes left over)"};
            }
            return 0; // the editor went away
        }
    }
}

int run(int argc, char** argv) {
    std::signal(SIGPIPE, SIG_IGN);
    if (argc == 1) {
        return serve(STDIN_FILENO, STDOUT_FILENO);
    }
    const std::string option = argv[1];
    if (argc != 3 || option != "--port") {
        throw Tavrin::Exception{"unknown arguments; see --help"};
    }
    const std::string text = argv[2];
    int port = 0;
    for (const char c : text) {
        if (c < '0' || c > '9' || port > 65535) {
            port = 0;
            break;
        }
        port = port * 10 + (c - '0');
    }
    if (port < 1 || port > 65535) {
        throw Tavrin::Exception{"--port takes a port from 1 to 65535, not \"" + text + "\""};
    }
    const Descriptor connection = accept_one(port);
    return serve(connection.get(), connection.get());
}

} // namespace

int main(int argc, char** argv) {
    return Tools::run_tool("drovask-dap", usage, argc, argv, Tools::Tool_Statuses{1, 1},
                           [&] { return run(argc, argv); });
}

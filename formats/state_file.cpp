#include "formats/state_file.hpp"

#include "base/exception.hpp"
#include "formats/sha256.hpp"

#include <algorithm>
#include <array>

namespace Formats {

namespace {

constexpr std::array<std::uint8_t, 8> magic{'T', 'M', 'S', 'T', 'A', 'T', 'E', 0x1A};
constexpr std::size_t digest_offset = 16;
constexpr std::size_t body_offset = digest_offset + 32;
constexpr std::size_t body_size = 4 + 8 + 8 + 4 + 4 + 1 + 8 + 2 + 2 + 1 + 12 + 4 + 4 + 65536;
constexpr std::size_t file_size = body_offset + body_size + 4;

class Writer {
public:
    template <typename Unsigned>
    void number(Unsigned value) {
        for (std::size_t i = 0; i < sizeof(Unsigned); ++i) {
            bytes.push_back(static_cast<std::uint8_t>(value >> (8 * i)));
        }
    }
    void raw(std::span<const std::uint8_t> run) {
        bytes.insert(bytes.end(), run.begin(), run.end());
    }

    std::vector<std::uint8_t> bytes;
};

class Reader {
public:
    explicit Reader(std::span<const std::uint8_t> bytes) : bytes_(bytes) {}

    template <typename Unsigned>
    Unsigned number() {
        Unsigned value = 0;
        for (std::size_t i = 0; i < sizeof(Unsigned); ++i) {
            value = static_cast<Unsigned>(value | Unsigned{bytes_[at_++]} << (8 * i));
        }
        return value;
    }
    std::span<const std::uint8_t> raw(std::size_t size) {
        const auto run = bytes_.subspan(at_, size);
        at_ += size;
        return run;
    }

private:
    std::span<const std::uint8_t> bytes_;
    std::size_t at_ = 0;
};

void write_body(Writer& out, const Drovask::Session& session) {
    const Drovask::Session::Counters& counters = session.counters();
    const Drovask::Board& board = session.board;
    const Intel_8080& p = board.processor;
    out.number(session.instructions_per_interrupt());
    out.number(counters.frames);
    out.number(counters.instructions);
    out.number(counters.in_period);
    out.number(counters.in_frame);
    out.number(counters.keys);
    for (const std::uint8_t value : {p.a, p.b, p.c, p.d, p.e, p.h, p.l, p.flags}) {
        out.number(value);
    }
    out.number(p.sp);
    out.number(p.pc);
    out.number(std::uint8_t{p.interrupts_enabled});
    out.number(p.writable_start);
    out.number(p.video_start);
    out.number(p.writable_end);
    for (const std::uint8_t value :
         {board.shift_register[0], board.shift_register[1], board.shift_amount, board.input}) {
        out.number(value);
    }
    out.number(board.interrupt_number);
    out.raw(p.memory);
}

// The body's values, or what no machine holds. `state` starts as a session at power-on.
const char* read_body(Reader& in, Drovask::Session::State& state) {
    Drovask::Session::Counters& counters = state.counters;
    Drovask::Board& board = state.board;
    Intel_8080& p = board.processor;
    const auto instructions_per_interrupt = in.number<std::uint32_t>();
    counters.frames = in.number<std::uint64_t>();
    counters.instructions = in.number<std::uint64_t>();
    counters.in_period = in.number<std::uint32_t>();
    counters.in_frame = in.number<std::uint32_t>();
    counters.keys = in.number<std::uint8_t>();
    for (std::uint8_t* value : {&p.a, &p.b, &p.c, &p.d, &p.e, &p.h, &p.l, &p.flags}) {
        *value = in.number<std::uint8_t>();
    }
    p.sp = in.number<std::uint16_t>();
    p.pc = in.number<std::uint16_t>();
    const auto interrupts_enabled = in.number<std::uint8_t>();
    p.interrupts_enabled = interrupts_enabled != 0;
    const auto writable_start = in.number<std::uint32_t>();
    const auto video_start = in.number<std::uint32_t>();
    const auto writable_end = in.number<std::uint32_t>();
    for (std::uint8_t* value :
         {&board.shift_register[0], &board.shift_register[1], &board.shift_amount, &board.input}) {
        *value = in.number<std::uint8_t>();
    }
    board.interrupt_number = in.number<std::uint32_t>();
    const auto memory = in.raw(p.memory.size());
    std::copy(memory.begin(), memory.end(), p.memory.begin());

    if (writable_start != p.writable_start || video_start != p.video_start ||
        writable_end != p.writable_end) {
        return "its memory map is not this machine's";
    }
    if (counters.in_period > instructions_per_interrupt ||
        counters.in_frame >= Drovask::interrupts_per_frame) {
        return "its place in the frame is past the frame's end";
    }
    if ((counters.keys & ~Drovask::input_key_bits) != 0 ||
        (board.input & ~Drovask::input_key_bits) != 0 || interrupts_enabled > 1) {
        return "its keys or flags hold bits that no machine sets";
    }
    if (board.shift_amount > 7 || (board.interrupt_number != 1 && board.interrupt_number != 2)) {
        return "its shift register or interrupt timer holds values that no machine has";
    }
    return nullptr;
}

std::uint32_t read_word(std::span<const std::uint8_t> bytes, std::size_t at) {
    Reader in(bytes.subspan(at, 4));
    return in.number<std::uint32_t>();
}

[[noreturn]] void refuse(const std::string& name, const std::string& what) {
    throw Tavrin::Exception{name + ": " + what};
}

} // namespace

std::uint32_t crc32(std::span<const std::uint8_t> bytes) {
    static const auto table = [] {
        std::array<std::uint32_t, 256> entries{};
        for (std::uint32_t n = 0; n < 256; ++n) {
            std::uint32_t c = n;
            for (int k = 0; k < 8; ++k) {
                c = (c & 1) != 0 ? 0xEDB88320u ^ (c >> 1) : c >> 1;
            }
            entries[n] = c;
        }
        return entries;
    }();
    std::uint32_t crc = 0xFFFFFFFFu;
    for (const std::uint8_t byte : bytes) {
        crc = table[(crc ^ byte) & 0xFF] ^ (crc >> 8);
    }
    return crc ^ 0xFFFFFFFFu;
}

std::vector<std::uint8_t> format_state_file(const Drovask::Session& session, Drovask::Rom rom) {
    Writer out;
    out.raw(magic);
    out.number(state_file_version);
    out.number(static_cast<std::uint32_t>(body_size));
    out.raw(sha256(rom));
    write_body(out, session);
    out.number(crc32(out.bytes));
    return std::move(out.bytes);
}

Drovask::Session::State parse_state_file(std::span<const std::uint8_t> bytes, Drovask::Rom rom,
                                         std::uint32_t instructions_per_interrupt,
                                         const std::string& name) {
    const std::size_t compared = std::min(bytes.size(), magic.size());
    if (!std::equal(bytes.begin(), bytes.begin() + static_cast<std::ptrdiff_t>(compared),
                    magic.begin()) ||
        bytes.empty()) {
        refuse(name, "not a machine state file (it does not begin as one); give a .tmstate "
                     "file that drovask-run or drovask-play saved");
    }
    if (bytes.size() < body_offset) {
        refuse(name, "the state file is cut short (" + std::to_string(bytes.size()) +
                         " bytes); save the state again");
    }
    const std::uint32_t version = read_word(bytes, 8);
    if (version > state_file_version) {
        refuse(name, "a state file of version " + std::to_string(version) +
                         ", newer than this program reads (version " +
                         std::to_string(state_file_version) + "); use a newer version of it");
    }
    if (version != state_file_version || read_word(bytes, 12) != body_size) {
        refuse(name, "a state file of a version this program does not read; save the state "
                     "again");
    }
    if (bytes.size() < file_size) {
        refuse(name, "the state file is cut short (" + std::to_string(bytes.size()) + " of " +
                         std::to_string(file_size) + " bytes); save the state again");
    }
    if (bytes.size() > file_size ||
        crc32(bytes.first(file_size - 4)) != read_word(bytes, file_size - 4)) {
        refuse(name, "the state file is damaged (its checksum does not match its contents); "
                     "save the state again");
    }
    const Sha256 saved_with = [&] {
        Sha256 digest{};
        std::copy_n(bytes.begin() + digest_offset, digest.size(), digest.begin());
        return digest;
    }();
    if (saved_with != sha256(rom)) {
        refuse(name, "the state was saved with another ROM image (SHA-256 " +
                         digest_text(saved_with).substr(0, 16) + "..., this one is " +
                         digest_text(sha256(rom)).substr(0, 16) +
                         "...); load it with the image it was saved with");
    }
    if (const std::uint32_t saved = read_word(bytes, body_offset);
        saved != instructions_per_interrupt) {
        refuse(name, "the state was saved with " + std::to_string(saved) +
                         " instructions per interrupt, not " +
                         std::to_string(instructions_per_interrupt) +
                         "; run it with --instructions-per-interrupt " + std::to_string(saved));
    }
    Drovask::Session::State state = Drovask::Session(rom, instructions_per_interrupt).save();
    Reader in(bytes.subspan(body_offset, body_size));
    if (const char* wrong = read_body(in, state)) {
        refuse(name, std::string("the state file holds no machine's state: ") + wrong);
    }
    return state;
}

} // namespace Formats

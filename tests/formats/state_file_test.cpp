// The state file: what is saved comes back whole, and every kind of wrong file is refused with
// its reason, leaving nothing half loaded.

#include "formats/state_file.hpp"

#include "base/exception.hpp"
#include "formats/sha256.hpp"
#include "machine/programs.hpp"

#include <gtest/gtest.h>

#include <functional>
#include <string>
#include <vector>

namespace {

using Bytes = std::vector<std::uint8_t>;

// The file with its checksum made right again, so that a refusal is for what was changed.
void seal(Bytes& file) {
    const std::uint32_t crc = Formats::crc32({file.data(), file.size() - 4});
    for (std::size_t i = 0; i < 4; ++i) {
        file[file.size() - 4 + i] = static_cast<std::uint8_t>(crc >> (8 * i));
    }
}

Drovask::Session played_demo() {
    Drovask::Session session(Drovask::demo_rom());
    for (int frame = 0; frame < 200; ++frame) {
        session.run_frame(frame >= 60 && frame < 64 ? Drovask::key_bit('C') : 0);
    }
    for (int i = 0; i < 777; ++i) {
        session.step(); // mid-period
    }
    return session;
}

TEST(State_File, WhatIsSavedComesBackWhole) {
    const Drovask::Session session = played_demo();
    const Bytes file = Formats::format_state_file(session, Drovask::demo_rom());
    const Drovask::Session::State loaded = Formats::parse_state_file(
        file, Drovask::demo_rom(), Drovask::default_instructions_per_interrupt, "demo.tmstate");
    EXPECT_TRUE(loaded == session.save());
    EXPECT_EQ(file.size(), 65650u);
}

TEST(State_File, WrongFilesAreRefusedWithTheirReason) {
    const Bytes good = Formats::format_state_file(played_demo(), Drovask::demo_rom());
    struct Case {
        const char* name;
        std::function<void(Bytes&)> change;
        std::string reason;
        Drovask::Rom rom = Drovask::demo_rom();
        std::uint32_t instructions_per_interrupt = Drovask::default_instructions_per_interrupt;
    };
    const std::vector<Case> cases{
        {"empty", [](Bytes& f) { f.clear(); }, "not a machine state file"},
        {"another kind of file", [](Bytes& f) { f[1] = 'P'; }, "not a machine state file"},
        {"cut in its header", [](Bytes& f) { f.resize(20); }, "cut short (20 bytes)"},
        {"cut in its memory", [](Bytes& f) { f.resize(30000); }, "cut short (30000 of 65650"},
        {"a byte of memory changed", [](Bytes& f) { f[40000] ^= 1; }, "damaged"},
        {"bytes after its end", [](Bytes& f) { f.push_back(0); }, "damaged"},
        {"a newer version",
         [](Bytes& f) {
             f[8] = 2;
             seal(f);
         },
         "version 2, newer than this program reads"},
        {"an older version",
         [](Bytes& f) {
             f[8] = 0;
             seal(f);
         },
         "a version this program does not read"},
        {"another ROM", [](Bytes&) {}, "saved with another ROM image", Drovask::test_card_rom()},
        {"another schedule", [](Bytes&) {}, "saved with 1938 instructions per interrupt, not 100",
         Drovask::demo_rom(), 100},
        {"a frame with three interrupts",
         [](Bytes& f) {
             f[48 + 4 + 8 + 8 + 4] = 3;
             seal(f);
         },
         "holds no machine's state: its place in the frame"},
        {"a shift of 9",
         [](Bytes& f) {
             f[48 + 4 + 8 + 8 + 4 + 4 + 1 + 8 + 2 + 2 + 1 + 12 + 2] = 9;
             seal(f);
         },
         "holds no machine's state: its shift register"},
    };
    for (const Case& c : cases) {
        Bytes file = good;
        c.change(file);
        try {
            Formats::parse_state_file(file, c.rom, c.instructions_per_interrupt, "x.tmstate");
            ADD_FAILURE() << c.name << ": loaded";
        } catch (const Tavrin::Exception& e) {
            EXPECT_TRUE(e.message.starts_with("x.tmstate: ")) << e.message;
            EXPECT_NE(e.message.find(c.reason), std::string::npos) << c.name << ": " << e.message;
        }
    }
}

TEST(State_File, Sha256MatchesTheStandardsExamples) {
    const auto digest = [](const std::string& text) {
        return Formats::digest_text(
            Formats::sha256({reinterpret_cast<const std::uint8_t*>(text.data()), text.size()}));
    };
    EXPECT_EQ(digest(""), "e3b0c44298fc1c149afbf4c8996fb92427ae41e4649b934ca495991b7852b855");
    EXPECT_EQ(digest("abc"), "ba7816bf8f01cfea414140de5dae2223b00361a396177a9cb410ff61f20015ad");
    EXPECT_EQ(digest("abcdbcdecdefdefgefghfghighijhijkijkljklmklmnlmnomnopnopq"),
              "248d6a61d20638b8e5c026930c3e6039a33ce45964ff2167f6ecedd419db06c1");
    EXPECT_EQ(digest(std::string(1000, 'a')).substr(0, 16), "41edece42d63e8d9");
}

} // namespace

// What drovask-play keeps of a session, without a window: a session played, rewound and played
// on, or loaded from a state, has a key record that replays (as drovask-run replays it) to the
// machine as it stands; the state slots give back what was saved and refuse what is not theirs.

#include "application/key_record.hpp"
#include "application/rewind.hpp"
#include "application/state_slots.hpp"
#include "base/exception.hpp"
#include "formats/key_script.hpp"
#include "formats/state_file.hpp"
#include "machine/programs.hpp"
#include "machine/session.hpp"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

namespace {

namespace fs = std::filesystem;

// A coin, a one-player start, then the paddle swept with fire held; `other` plays differently.
std::uint8_t keys_in_frame(std::uint64_t frame, bool other = false) {
    std::uint8_t keys = 0;
    const auto hold = [&](char key, bool held) {
        keys = held ? static_cast<std::uint8_t>(keys | Drovask::key_bit(key)) : keys;
    };
    hold('C', frame >= 30 && frame < 34);
    hold('Q', frame >= 60 && frame < 64);
    hold('S', frame >= 100 && !other);
    hold(other ? 'A' : 'D', frame % 40 < 20);
    return keys;
}

struct Player {
    explicit Player(Drovask::History::Settings settings = {})
        : session(Drovask::demo_rom()), rewind(session, settings) {}

    void play(std::uint64_t frames, bool other = false) {
        for (std::uint64_t i = 0; i < frames; ++i) {
            rewind.play_frame(session, record, keys_in_frame(session.frames(), other));
        }
    }
    // Returns the frames gone back.
    std::uint64_t back(std::uint64_t steps) {
        std::uint64_t frames = 0;
        for (std::uint64_t i = 0; i < steps; ++i) {
            frames += rewind.step_back(session, record);
        }
        return frames;
    }

    Drovask::Session session;
    Rewind rewind;
    Key_Record record;
};

// drovask-run's replay of a record: from power-on or the state it starts from, each event read
// back from its text and applied at its frame, for the frames it plays.
Drovask::Session replay(const Key_Record& record) {
    Drovask::Session session(Drovask::demo_rom());
    if (!record.start_state().empty()) {
        session.restore(Formats::parse_state_file(record.start_state(), Drovask::demo_rom(),
                                                  session.instructions_per_interrupt(), "start"));
    }
    const std::vector<Formats::Key_Event> events = Formats::parse_key_script(record.text(), "r");
    auto next = events.begin();
    std::uint8_t keys = session.keys();
    for (std::uint64_t f = session.frames(); f < record.first_frame() + record.frames(); ++f) {
        for (; next != events.end() && next->frame == f; ++next) {
            const std::uint8_t bit = Drovask::key_bit(next->key);
            keys = static_cast<std::uint8_t>(next->press ? keys | bit : keys & ~bit);
        }
        session.run_frame(keys);
    }
    EXPECT_TRUE(next == events.end()) << "events after the record's last frame";
    return session;
}

TEST(PlayerRewind, ARewoundSessionReplaysFromItsRecordToTheMachineOnScreen) {
    struct Step {
        std::uint64_t play; // frames played, then
        std::uint64_t back; // steps back
        bool other_keys;
    };
    struct Case {
        const char* name;
        std::vector<Step> steps;
        std::uint64_t frames_at_end;
        Drovask::History::Settings history{};
    };
    const Drovask::History::Settings short_history{.frames_between_snapshots = 10,
                                                   .most_snapshots = 5};
    for (const Case& c : {
             Case{
                 "a few frames back, played on as before", {{200, 3, false}, {100, 0, false}}, 294},
             Case{"across snapshots, played on otherwise", {{300, 40, false}, {120, 0, true}}, 340},
             Case{"back through a key change, twice",
                  {{70, 10, false}, {50, 30, true}, {20, 0, false}},
                  20 + 50 - 60 + 70 - 20},
             Case{"further than the past is kept",
                  {{200, 100, false}, {60, 0, true}},
                  160 + 60,
                  short_history},
             Case{"to power-on", {{40, 30, false}, {10, 0, false}}, 10},
         }) {
        Player player(c.history);
        for (const Step& step : c.steps) {
            player.play(step.play, step.other_keys);
            player.back(step.back);
        }
        EXPECT_EQ(player.session.frames(), c.frames_at_end) << c.name;
        EXPECT_EQ(player.record.frames(), player.session.frames()) << c.name;
        EXPECT_TRUE(replay(player.record).save() == player.session.save()) << c.name;
    }
}

TEST(PlayerRewind, ALoadedStateStartsTheRecordAgainAndBoundsTheRewind) {
    Player saved;
    saved.play(150);
    const std::vector<std::uint8_t> file =
        Formats::format_state_file(saved.session, Drovask::demo_rom());

    Player player;
    player.play(80, true);
    player.rewind.load(player.session, player.record,
                       Formats::parse_state_file(file, Drovask::demo_rom(),
                                                 player.session.instructions_per_interrupt(), "s"),
                       Drovask::demo_rom());
    EXPECT_EQ(player.record.first_frame(), 150u);
    player.play(50);
    EXPECT_EQ(player.back(100), 50u); // to the loaded state, not into the session before it
    player.play(30, true);
    EXPECT_EQ(player.session.frames(), 180u);
    EXPECT_EQ(player.record.frames(), 30u);
    EXPECT_TRUE(replay(player.record).save() == player.session.save());
}

class PlayerSlots : public testing::Test {
protected:
    void SetUp() override {
        folder = fs::temp_directory_path() /
                 ("player_slots_" +
                  std::string(testing::UnitTest::GetInstance()->current_test_info()->name()));
        fs::remove_all(folder);
        fs::create_directories(folder);
    }
    void TearDown() override { fs::remove_all(folder); }

    fs::path folder;
};

TEST_F(PlayerSlots, ASavedSlotLoadsBackBesideTheRom) {
    const State_Slots slots(folder / "demo.bin");
    EXPECT_EQ(slots.path(2), folder / "demo.2.tmstate");
    Player player;
    player.play(120);
    slots.save(2, player.session, Drovask::demo_rom());
    const Drovask::Session::State saved = player.session.save();
    player.play(30);
    player.session.restore(slots.load(2, Drovask::demo_rom(), 1938));
    EXPECT_TRUE(player.session.save() == saved);
}

TEST_F(PlayerSlots, AFileThatIsNotASavedStateIsRefusedWithWhy) {
    const State_Slots slots(folder / "demo.bin");
    Player player;
    player.play(10);
    slots.save(1, player.session, Drovask::test_card_rom());
    const fs::path good = folder / "demo.4.tmstate";
    slots.save(4, player.session, Drovask::demo_rom());
    const auto cut = [&](std::size_t size) {
        fs::copy_file(good, slots.path(2), fs::copy_options::overwrite_existing);
        fs::resize_file(slots.path(2), size);
    };
    struct Case {
        const char* name;
        unsigned slot;
        std::function<void()> make;
        const char* message;
    };
    for (const Case& c : {
             Case{"an empty slot", 3, [] {}, "slot 3 ("},
             Case{"another ROM's", 1, [] {}, "ROM"},
             Case{"cut short", 2, [&] { cut(1000); }, "demo.2.tmstate"},
             Case{"not a state file", 2, [&] { std::ofstream(slots.path(2)) << "at 30 press C\n"; },
                  "demo.2.tmstate"},
             Case{"a folder", 3, [&] { fs::create_directory(slots.path(3)); }, "demo.3.tmstate"},
         }) {
        c.make();
        try {
            static_cast<void>(slots.load(c.slot, Drovask::demo_rom(), 1938));
            ADD_FAILURE() << c.name << ": loaded";
        } catch (const Tavrin::Exception& exception) {
            EXPECT_NE(exception.message.find(c.message), std::string::npos)
                << c.name << ": " << exception.message;
        }
    }
    EXPECT_THROW(
        State_Slots(folder / "none" / "demo.bin").save(1, player.session, Drovask::demo_rom()),
        Tavrin::Exception);
}

} // namespace

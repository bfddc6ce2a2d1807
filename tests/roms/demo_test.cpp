#include "rom_fixture.hpp"

#include <string>
#include <vector>

namespace {

// The demo's working RAM, as its source lays it out.
[[maybe_unused]] constexpr std::uint16_t frame_count = 0x2000;
constexpr std::uint16_t credits = 0x2002;
constexpr std::uint16_t mode = 0x2003;
constexpr std::uint16_t players = 0x2004;
constexpr std::uint16_t cur_player = 0x2005;
constexpr std::uint16_t ball_state = 0x2007;
constexpr std::uint16_t ball_x = 0x2008;
constexpr std::uint16_t ball_y = 0x2009;
constexpr std::uint16_t ball_dx = 0x200A;
constexpr std::uint16_t ball_dy = 0x200B;
constexpr std::uint16_t paddle_x = 0x200F;
constexpr std::uint16_t score1 = 0x2015;
constexpr std::uint16_t hiscore = 0x201B;
constexpr std::uint16_t balls1 = 0x201E;
constexpr std::uint16_t balls2 = 0x201F;
constexpr std::uint16_t speed = 0x2020;
constexpr std::uint16_t level = 0x2040;
constexpr std::uint16_t bricks_left = 0x2041;
constexpr std::uint16_t wall = 0x2042;

constexpr std::uint8_t mode_demo = 1;
constexpr std::uint8_t mode_play = 2;
constexpr std::uint8_t ball_held = 1;
constexpr std::uint8_t ball_moving = 2;

// Fixed addresses of the ROM: the score addition and a word holding the font's address.
constexpr std::uint16_t entry_add_score = 0x0018;
constexpr std::uint16_t font_pointer = 0x001B;

// Text rows (the byte of each video line that they use) and the brick rows' points.
constexpr int text_header = 31;
constexpr int text_scores = 30;
constexpr int text_prompt = 13;
constexpr int text_status = 0;
constexpr std::array<int, 5> row_points{50, 40, 30, 20, 10};
constexpr int paddle_step = 3; // lines per frame

class Demo : public Rom_Test {
protected:
    void SetUp() override {
        Rom_Test::SetUp();
        start(Drovask::demo_rom());
        ASSERT_TRUE(frames_until([&] { return ram(mode) == mode_demo; }, 100));
        frames(2);
    }
    void TearDown() override {
        expect_no_faults();
        expect_memory_outside_ram_untouched();
    }

    // Reads the character drawn in text column `column` of text row `row` by matching the
    // pixels against the ROM's own font; '?' when nothing matches.
    char read_char(const Drovask::Screen& screen, int column, int row) const {
        const int font = rom[font_pointer] | rom[font_pointer + 1] << 8;
        for (int code = ' '; code <= 'Z'; ++code) {
            bool same = true;
            for (int i = 0; i < 8 && same; ++i) {
                const std::uint8_t glyph_row =
                    rom[static_cast<std::size_t>(font + 8 * (code - ' ') + i)];
                for (int j = 0; j < 8 && same; ++j) {
                    same = lit(screen, 8 * column + j, 248 - 8 * row + i) ==
                           ((glyph_row >> (7 - j) & 1) != 0);
                }
            }
            if (same) {
                return static_cast<char>(code);
            }
        }
        return '?';
    }
    std::string read_text(int row, int column = 0, int length = 28) {
        const auto& screen = picture();
        std::string text;
        for (int c = column; c < column + length; ++c) {
            text += read_char(screen, c, row);
        }
        return text;
    }

    int score(std::uint16_t address) const {
        int value = 0;
        for (int i = 2; i >= 0; --i) {
            const std::uint8_t b = ram(static_cast<std::uint16_t>(address + i));
            value = value * 100 + (b >> 4) * 10 + (b & 15);
        }
        return value;
    }

    // A press of a few frames, as a hand makes it.
    void insert_coin() {
        hold('C');
        frames(4);
        hold('C', false);
        frames(4);
    }
    // From attract mode: a coin per player, then the start key.
    void start_game(int player_count) {
        for (int i = 0; i < player_count; ++i) {
            insert_coin();
        }
        hold(player_count == 1 ? 'Q' : 'E');
        ASSERT_TRUE(frames_until([&] { return ram(mode) == mode_play; }, 60));
        hold(player_count == 1 ? 'Q' : 'E', false);
    }

    // Whether brick `column` of row `row` is drawn (in its row's look: solid or striped) or gone
    // (no pixel lit).
    bool brick_drawn(int row, int column) {
        const auto& screen = picture();
        const std::uint8_t look = row % 2 == 0 ? 0x7F : 0x55;
        int wrong = 0;
        int count = 0;
        for (int x = 8 + 16 * column; x < 8 + 16 * column + 16; ++x) {
            for (int bit = 0; bit < 8; ++bit) {
                const bool on = lit(screen, x, 255 - (8 * (26 - row) + bit));
                const bool in_look = x < 8 + 16 * column + 15 && (look >> bit & 1) != 0;
                count += on ? 1 : 0;
                wrong += on != in_look ? 1 : 0;
            }
        }
        EXPECT_TRUE(count == 0 || wrong == 0) << "brick " << row << "," << column << " damaged";
        return count != 0;
    }
};

TEST_F(Demo, AttractModeShowsTheTitleAndAsksForACoinWhileTheMachinePlays) {
    EXPECT_EQ(ram(mode), mode_demo);
    EXPECT_EQ(read_text(17, 1, 26), "      DROVASK BRICKS      ");
    EXPECT_EQ(read_text(text_prompt, 1, 26), "       INSERT COIN        ");
    EXPECT_EQ(read_text(text_header), " SCORE1   HI SCORE   SCORE2 ");
    EXPECT_EQ(read_text(text_scores), " 000000    000000    000000 ");
    EXPECT_EQ(read_text(text_status, 19, 9), "CREDIT 0 ");
    // The machine's ball moves by itself.
    const int x = ram(ball_x);
    const int y = ram(ball_y);
    frames(20);
    EXPECT_EQ(ram(ball_state), ball_moving);
    EXPECT_TRUE(ram(ball_x) != x || ram(ball_y) != y);
}

TEST_F(Demo, ACoinShowsOneCreditAndTheStartKeysItAllows) {
    insert_coin();
    EXPECT_EQ(ram(credits), 1);
    EXPECT_EQ(read_text(text_status, 19, 9), "CREDIT 1 ");
    EXPECT_EQ(read_text(text_prompt, 6, 16), "Q  ONE PLAYER   ");
    EXPECT_EQ(read_text(11, 6, 16), std::string(16, ' ')) << "two players need two credits";
    // E with one credit starts nothing; holding C is one coin, not one per frame.
    hold('E');
    frames(10);
    hold('E', false);
    EXPECT_EQ(ram(mode), mode_demo);
    hold('C');
    frames(10);
    hold('C', false);
    frames(2);
    EXPECT_EQ(ram(credits), 2);
    EXPECT_EQ(read_text(11, 6, 16), "E  TWO PLAYERS  ");
    for (int i = 0; i < 9; ++i) {
        insert_coin();
    }
    EXPECT_EQ(ram(credits), 9) << "credits stop at 9";
}

TEST_F(Demo, StartBeginsAGameWithThreeBallsAndAFullWall) {
    start_game(1);
    frames(5);
    EXPECT_EQ(ram(credits), 0);
    EXPECT_EQ(ram(players), 1);
    EXPECT_EQ(ram(balls1), 3);
    EXPECT_EQ(ram(bricks_left), 65);
    EXPECT_EQ(ram(ball_state), ball_held);
    EXPECT_EQ(read_text(text_prompt, 10, 8), "PLAYER 1");
    EXPECT_EQ(read_text(text_status, 0, 8), " BALLS 3");
    for (int row = 0; row < 5; ++row) {
        for (int column = 0; column < 13; ++column) {
            EXPECT_TRUE(brick_drawn(row, column)) << row << "," << column;
        }
    }
}

TEST_F(Demo, HoldingDOrAMovesThePaddleAndTheWallsStopIt) {
    start_game(1);
    const int start = ram(paddle_x);
    hold('D');
    frames(10);
    EXPECT_EQ(ram(paddle_x), start + 10 * paddle_step) << "one step per RST 1";
    const auto& screen = picture();
    for (int x = 0; x < 224; ++x) {
        const bool on_paddle = x >= start + 10 * paddle_step && x < start + 10 * paddle_step + 24;
        EXPECT_EQ(lit(screen, x, 255 - 16), on_paddle || x == 7 || x == 216) << x;
    }
    frames(100);
    EXPECT_EQ(ram(paddle_x), 216 - 24) << "stops at the right wall";
    hold('D', false);
    hold('A');
    frames(120);
    EXPECT_EQ(ram(paddle_x), 8) << "stops at the left wall";
}

TEST_F(Demo, SLaunchesTheBallAndTheTurnMessageGoes) {
    start_game(1);
    frames(20);
    EXPECT_EQ(ram(ball_state), ball_held) << "the ball waits for S";
    EXPECT_EQ(ram(ball_y), 20);
    hold('S');
    frames(2);
    hold('S', false);
    EXPECT_EQ(ram(ball_state), ball_moving);
    const int y = ram(ball_y);
    frames(10);
    EXPECT_GT(ram(ball_y), y);
    EXPECT_EQ(read_text(text_prompt, 1, 26), std::string(26, ' '));
}

// For each row: the ball is sent up into a brick of that row, with the bricks below it in that
// column knocked out first, and must take exactly that brick and the row's points.
TEST_F(Demo, ABrickHitRemovesTheBrickAndScoresItsRowsPoints) {
    start_game(1);
    hold('S');
    frames(2);
    hold('S', false);
    int expected = 0;
    for (int row = 4; row >= 0; --row) {
        SCOPED_TRACE(row);
        const int column = 6;
        for (int r = row + 1; r < 5; ++r) {
            ASSERT_EQ(ram(static_cast<std::uint16_t>(wall + 13 * r + column)), 0);
        }
        poke(ball_x, static_cast<std::uint8_t>(8 + 16 * column + 5));
        poke(ball_y, 150);
        poke(ball_dx, 0);
        poke(ball_dy, 1);
        const int left = ram(bricks_left);
        ASSERT_TRUE(frames_until([&] { return ram(bricks_left) != left; }, 100));
        expected += row_points[static_cast<std::size_t>(row)];
        EXPECT_EQ(ram(static_cast<std::uint16_t>(wall + 13 * row + column)), 0);
        EXPECT_EQ(ram(bricks_left), left - 1);
        EXPECT_EQ(score(score1), expected);
        EXPECT_EQ(ram(ball_dy), 0xFF) << "the ball bounces back down";
        frames(3);
        EXPECT_FALSE(brick_drawn(row, column));
        EXPECT_TRUE(brick_drawn(row, column - 1));
        EXPECT_TRUE(brick_drawn(row, column + 1));
        char digits[8];
        std::snprintf(digits, sizeof digits, "%06d", expected);
        EXPECT_EQ(read_text(text_scores, 1, 6), digits);
        EXPECT_EQ(read_text(text_scores, 11, 6), digits) << "the high score follows";
    }
}

TEST_F(Demo, AMissedBallCostsOneAndAClearedWallBringsAFasterBall) {
    start_game(1);
    hold('A');
    frames(60); // the paddle to the far left, the ball on it
    hold('S');
    frames(2);
    release_all();
    poke(ball_x, 150); // and the ball on its way down far to the right
    poke(ball_y, 100);
    poke(ball_dx, 0);
    poke(ball_dy, 0xFF);
    ASSERT_TRUE(frames_until([&] { return ram(balls1) == 2; }, 100));
    ASSERT_TRUE(frames_until([&] { return ram(mode) == mode_play; }, 200));
    frames(2);
    EXPECT_EQ(read_text(text_status, 0, 8), " BALLS 2");
    EXPECT_EQ(ram(ball_state), ball_held);

    // Leave one brick and knock it out.
    const int base_speed = ram(speed);
    for (int i = 0; i < 65; ++i) {
        poke(static_cast<std::uint16_t>(wall + i), 0);
    }
    poke(static_cast<std::uint16_t>(wall + 13 * 4 + 3), 1);
    poke(bricks_left, 1);
    hold('S');
    frames(2);
    hold('S', false);
    poke(ball_x, 8 + 16 * 3 + 5);
    poke(ball_y, 150);
    poke(ball_dx, 0);
    poke(ball_dy, 1);
    ASSERT_TRUE(frames_until([&] { return ram(level) == 1; }, 100));
    frames(5);
    EXPECT_EQ(ram(bricks_left), 65);
    EXPECT_EQ(ram(speed), base_speed + 1);
    EXPECT_EQ(ram(ball_state), ball_held);
    for (int row = 0; row < 5; ++row) {
        for (int column = 0; column < 13; ++column) {
            EXPECT_TRUE(brick_drawn(row, column)) << row << "," << column;
        }
    }
}

// Two players, the paddle never moved: every ball is lost in turn; the players alternate, the
// game ends after six balls, the high score stays, and attract mode comes back.
TEST_F(Demo, TwoPlayersAlternateUntilGameOverAndTheHighScoreStays) {
    start_game(2);
    std::vector<int> turns;
    for (int ball = 0; ball < 6; ++ball) {
        ASSERT_TRUE(frames_until([&] { return ram(mode) == mode_play; }, 300));
        const int player = ram(cur_player);
        turns.push_back(player);
        hold(player == 0 ? 'A' : 'D');
        frames(60); // the paddle against a wall
        const auto balls_left = static_cast<std::uint16_t>(balls1 + player);
        const int before = ram(balls_left);
        poke(ball_dx, 0);
        poke(ball_state, ball_moving);
        if (ball == 0) {
            // The first player takes one bottom-row brick; the ball then comes straight down
            // beside the paddle.
            poke(ball_x, 8 + 16 * 2 + 5);
            poke(ball_y, 150);
            poke(ball_dy, 1);
            ASSERT_TRUE(frames_until([&] { return ram(bricks_left) == 64; }, 100));
        } else {
            poke(ball_x, player == 0 ? 150 : 60);
            poke(ball_y, 100);
            poke(ball_dy, 0xFF);
        }
        ASSERT_TRUE(frames_until([&] { return ram(balls_left) == before - 1; }, 300));
        release_all();
    }
    EXPECT_EQ(turns, (std::vector<int>{0, 1, 0, 1, 0, 1}));
    EXPECT_EQ(ram(balls1), 0);
    EXPECT_EQ(ram(balls2), 0);
    ASSERT_TRUE(frames_until([&] { return read_text(text_prompt, 9, 10) == "GAME OVER "; }, 100));
    ASSERT_TRUE(frames_until([&] { return ram(mode) == mode_demo; }, 400));
    frames(2);
    EXPECT_EQ(score(hiscore), 10);
    EXPECT_EQ(read_text(text_scores, 11, 6), "000010");
    EXPECT_EQ(read_text(text_prompt, 1, 26), "       INSERT COIN        ");

    start_game(1);
    frames(2);
    EXPECT_EQ(score(score1), 0);
    EXPECT_EQ(read_text(text_scores, 11, 6), "000010") << "the high score outlives the game";
}

TEST_F(Demo, InterruptHandlersPreserveTheRegisters) {
    expect_handlers_preserve_registers(20); // the machine playing
    start_game(1);
    hold('S');
    hold('D');
    frames(2);
    expect_handlers_preserve_registers(40); // a player playing
}

// A game played by a script that follows the ball and now and then lets it go, until the game
// is over; every store of the run is audited (see the fixture) and the ROM must stay intact.
TEST_F(Demo, ALongPlayedGameStaysInsideItsMemory) {
    start_game(1);
    int best = 0;
    int frame = 0;
    for (; frame < 3000 && ram(mode) != mode_demo; ++frame) {
        release_all();
        if (frame % 400 < 300) {
            hold('S');
            const int target = ram(ball_x) - 9;
            const int paddle = ram(paddle_x);
            if (target < paddle - 1) {
                hold('A');
            } else if (target > paddle + 1) {
                hold('D');
            }
        }
        frames(1);
        best = std::max(best, score(score1));
    }
    EXPECT_EQ(ram(mode), mode_demo) << "the game ends and attract mode returns";
    EXPECT_GE(best, 100);
    EXPECT_EQ(score(hiscore), best);
}

// The score addition itself, called through its fixed entry point for every two-digit score
// byte and every points value the game may award, at every position of a carry.
TEST_F(Demo, ScoreAdditionIsExactDecimal) {
    auto& p = processor();
    constexpr std::uint16_t score_at = 0x2300;
    constexpr std::uint16_t return_to = 0x1FF0; // beyond the program: NOPs
    const auto add = [&](int total, int points, bool aux_carry_before) {
        for (int i = 0; i < 3; ++i) {
            const int pair = total / (i == 0 ? 1 : i == 1 ? 100 : 10000) % 100;
            p.memory[static_cast<std::size_t>(score_at + i)] =
                static_cast<std::uint8_t>(pair / 10 << 4 | pair % 10);
        }
        p.interrupts_enabled = false;
        p.sp = 0x2380;
        p.memory[0x237E] = return_to & 0xFF;
        p.memory[0x237F] = return_to >> 8;
        p.sp = 0x237E;
        p.h = score_at >> 8;
        p.l = score_at & 0xFF;
        p.a = static_cast<std::uint8_t>(points / 10 << 4 | points % 10);
        p.flags = aux_carry_before ? 0x08 : 0x00;
        p.pc = entry_add_score;
        for (int i = 0; i < 100 && p.pc != return_to; ++i) {
            run(1);
        }
        EXPECT_EQ(p.pc, return_to);
        int result = 0;
        for (int i = 2; i >= 0; --i) {
            const std::uint8_t b = p.memory[static_cast<std::size_t>(score_at + i)];
            EXPECT_LE(b & 15, 9);
            EXPECT_LE(b >> 4, 9);
            result = result * 100 + (b >> 4) * 10 + (b & 15);
        }
        return result;
    };
    for (const int points : {10, 20, 30, 40, 50, 60}) {
        for (int low = 0; low < 100; ++low) {
            for (const int high : {0, 99, 9999}) {
                const int total = high * 100 + low;
                ASSERT_EQ(add(total, points, low % 2 == 1), (total + points) % 1000000)
                    << total << " + " << points;
            }
        }
    }
}

// Reference pictures at fixed points of a scripted run; checked once against an independent
// model of the machine.
TEST_F(Demo, PicturesMatchTheReferences) {
    frames(90);
    EXPECT_EQ(picture_hash(picture()), 17745979666561161588ULL) << "attract mode";
    start_game(2);
    hold('D');
    frames(15);
    hold('S');
    frames(25);
    EXPECT_EQ(picture_hash(picture()), 10691332608747913450ULL)
        << "first ball of a two-player game";
}

} // namespace

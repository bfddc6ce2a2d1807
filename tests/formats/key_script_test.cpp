// The key scripts: what they may say, the file:line of what they may not, and what the writers
// write.
#include "formats/key_script.hpp"

#include "base/exception.hpp"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace {

using Formats::Key_Event;

TEST(Key_Script, ReadsEventsCommentsAndBlankLines) {
    const auto events = Formats::parse_key_script("# a coin, then one player\n"
                                                  "\n"
                                                  "at 0 press C\r\n"
                                                  "  at 4   release c   # lower case too\n"
                                                  "at 4 press Q\n"
                                                  "\tat 1000000000 release Q",
                                                  "script");
    EXPECT_EQ(events, (std::vector<Key_Event>{{0, 'C', true, 3},
                                              {4, 'C', false, 4},
                                              {4, 'Q', true, 5},
                                              {1000000000, 'Q', false, 6}}));
}

// A press and its release in one frame (or a release and the next press) are both taken, but
// the program samples the keys only as they are at the end of the frame.
TEST(Key_Script, OpensWithAByteOrderMarkAndWarnsOfChangesTheProgramCannotSee) {
    const auto events = Formats::parse_key_script("\xEF\xBB\xBF"
                                                  "at 3 press C\n"
                                                  "at 3 press Q\n"
                                                  "at 3 release C\n"
                                                  "at 4 release Q\n"
                                                  "at 4 press Q\n",
                                                  "k");
    ASSERT_EQ(events.size(), 5u);
    EXPECT_EQ(Formats::key_script_warnings(events, "k"),
              (std::vector<std::string>{
                  "k:3: C is released in frame 3, the frame in which line 1 pressed it: the "
                  "program never sees it pressed; put the two events at least one frame apart",
                  "k:5: Q is pressed again in frame 4, the frame in which line 4 released it: "
                  "the program never sees it released; put the two events at least one frame "
                  "apart"}));
}

TEST(Key_Script, NamesTheFileAndLineOfEachMistake) {
    struct Case {
        const char* name;
        const char* text;
        const char* message;
    };
    const Case cases[] = {
        {"unknown word", "at 1 push C",
         "keys.txt:1: expected \"at FRAME press|release KEY\", found \"at 1 push C\""},
        {"missing key", "\n# two\nat 3 press",
         "keys.txt:3: expected \"at FRAME press|release KEY\", found \"at 3 press\""},
        {"extra word", "at 3 press C D",
         "keys.txt:1: expected \"at FRAME press|release KEY\", found \"at 3 press C D\""},
        {"frame not a number", "at soon press C",
         "keys.txt:1: the frame \"soon\" is not a whole number"},
        {"negative frame", "at -1 press C", "keys.txt:1: the frame \"-1\" is not a whole number"},
        {"huge frame", "at 99999999999999999999 press C",
         "keys.txt:1: the frame \"99999999999999999999\" is not a whole number"},
        {"frame too far", "at 1000000001 press C",
         "keys.txt:1: the frame 1000000001 is beyond the last one allowed, 1000000000"},
        {"unknown key", "at 1 press X",
         "keys.txt:1: \"X\" is not a key of the machine; use one of C (coin), Q (one-player "
         "start), E (two-player start), A (left), D (right), S (fire)"},
        {"out of order", "at 9 press C\nat 8 release C",
         "keys.txt:2: frame 8 comes after frame 9 (line 1); list the events in the order of "
         "their frames"},
        {"pressed twice", "at 1 press S\n\nat 2 press S",
         "keys.txt:3: S is already pressed (line 1)"},
        {"released unpressed", "at 1 release A", "keys.txt:1: A is released but was not pressed"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        try {
            Formats::parse_key_script(c.text, "keys.txt");
            ADD_FAILURE() << "no error";
        } catch (const Tavrin::Exception& exception) {
            EXPECT_EQ(exception.message, c.message);
        }
    }
}

// Every writer of key scripts (drovask-play's record, the studio's recording) writes through
// format_key_event, so what they write must read back as the same events.
TEST(Key_Script, WritesEachEventAsALineThatReadsBackToIt) {
    const std::vector<Key_Event> played = {
        {0, 'C', true}, {4, 'C', false}, {4, 'Q', true}, {Formats::max_script_frame, 'Q', false}};
    std::string script;
    for (const Key_Event& event : played) {
        script += Formats::format_key_event(event);
    }
    EXPECT_EQ(script, "at 0 press C\nat 4 release C\nat 4 press Q\nat 1000000000 release Q\n");
    EXPECT_EQ(Formats::parse_key_script(script, "k"),
              (std::vector<Key_Event>{{0, 'C', true, 1},
                                      {4, 'C', false, 2},
                                      {4, 'Q', true, 3},
                                      {Formats::max_script_frame, 'Q', false, 4}}));
}

} // namespace

// The tools' shared file handling: output files, bounded reads and printable messages.
#include "base/exception.hpp"
#include "tools/files/input_file.hpp"
#include "tools/files/messages.hpp"
#include "tools/files/numbers.hpp"
#include "tools/files/output_file.hpp"

#include <gtest/gtest.h>

#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <csignal>
#include <fstream>
#include <iterator>
#include <optional>
#include <set>
#include <string>

namespace fs = std::filesystem;

namespace {

class Files : public testing::Test {
protected:
    void SetUp() override {
        const auto* test = testing::UnitTest::GetInstance()->current_test_info();
        folder = fs::temp_directory_path() /
                 ("tool_files_" + std::string(test->name()) + "_" + std::to_string(getpid()));
        fs::remove_all(folder);
        fs::create_directories(folder);
    }
    void TearDown() override { fs::remove_all(folder); }

    fs::path path(const std::string& name) const { return folder / name; }
    void write(const std::string& name, const std::string& text) const {
        std::ofstream(path(name), std::ios::binary) << text;
    }
    std::string read(const std::string& name) const {
        std::ifstream in(path(name), std::ios::binary);
        return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
    }
    std::set<std::string> names() const {
        std::set<std::string> found;
        for (const auto& entry : fs::directory_iterator(folder)) {
            found.insert(entry.path().filename().string());
        }
        return found;
    }
    static void put(Tools::Output_File& file, const char* text) { std::fputs(text, file.stream()); }
    static unsigned mode(const fs::path& path) {
        struct stat status {};
        return ::lstat(path.c_str(), &status) == 0 ? status.st_mode & 07777 : 0;
    }

    fs::path folder;
};

TEST_F(Files, OutputAppearsOnlyWhenCommitted) {
    write("shot.png", "the user's own file");
    {
        Tools::Output_File file(path("shot.png"));
        put(file, "half a picture");
        EXPECT_EQ(names().size(), 2u) << "the temporary sits beside the target";
        // Dropped without a commit, as when a run fails.
    }
    EXPECT_EQ(names(), std::set<std::string>{"shot.png"});
    EXPECT_EQ(read("shot.png"), "the user's own file");

    Tools::Output_File file(path("shot.png"));
    put(file, "complete");
    file.commit();
    EXPECT_EQ(names(), std::set<std::string>{"shot.png"});
    EXPECT_EQ(read("shot.png"), "complete");
}

// The temporary name does not grow with the target's, and earlier leftovers do not use it up.
TEST_F(Files, AnyValidNameCanBeWrittenWhateverLiesBesideIt) {
    const std::string longest(254, 'n');
    for (int i = 0; i < 100; ++i) {
        write(".shot.png.partial" + (i == 0 ? std::string() : std::to_string(i)), "");
    }
    for (const std::string& name : {longest, std::string("shot.png")}) {
        Tools::Output_File file(path(name));
        put(file, "picture");
        file.commit();
        EXPECT_EQ(read(name), "picture");
    }
    EXPECT_EQ(names().size(), 102u);
}

TEST_F(Files, OutputsKeepTheModeOfWhatTheyReplace) {
    write("private.bin", "old");
    fs::permissions(path("private.bin"), fs::perms::owner_read | fs::perms::owner_write);
    const mode_t old_mask = ::umask(027);
    for (const char* name : {"private.bin", "new.bin"}) {
        Tools::Output_File file(path(name));
        file.commit();
    }
    ::umask(old_mask);
    EXPECT_EQ(mode(path("private.bin")), 0600u);
    EXPECT_EQ(mode(path("new.bin")), 0640u);
}

// A link is written through and kept; what is not a regular file is refused and left as it is.
TEST_F(Files, OnlyRegularFilesAreReplaced) {
    write("real.png", "old");
    ::chmod(path("real.png").c_str(), 0640);
    fs::create_symlink("real.png", path("link.png"));
    {
        Tools::Output_File file(path("link.png"));
        put(file, "new");
        file.commit();
    }
    EXPECT_TRUE(fs::is_symlink(path("link.png")));
    EXPECT_EQ(read("real.png"), "new");
    EXPECT_EQ(mode(path("real.png")), 0640u);

    ASSERT_EQ(::mkfifo(path("fifo").c_str(), 0600), 0);
    fs::create_symlink("/dev/null", path("null.png"));
    fs::create_symlink("absent.png", path("dangling.png"));
    fs::create_directories(path("folder"));
    struct Case {
        fs::path target;
        const char* message;
    };
    for (const Case& c : {
             Case{path("fifo"), "it is not a regular file"},
             Case{"/dev/null", "cannot write '/dev/null': it is not a regular file"},
             Case{path("null.png"), "it is not a regular file"},
             Case{path("dangling.png"), "it is a symbolic link to a file that does not exist"},
             Case{"/dev/stdout", "it stands for a file that is open already"},
             Case{path("folder"), "it is a directory"},
             Case{path("missing/shot.png"), "No such file or directory"},
         }) {
        try {
            Tools::Output_File file(c.target);
            ADD_FAILURE() << c.target << " accepted";
        } catch (const Tavrin::Exception& exception) {
            EXPECT_NE(exception.message.find(c.message), std::string::npos) << exception.message;
        }
    }
    EXPECT_EQ(fs::status(path("fifo")).type(), fs::file_type::fifo);
    EXPECT_TRUE(fs::is_symlink(path("null.png")));
    EXPECT_EQ(names(), (std::set<std::string>{"dangling.png", "fifo", "folder", "link.png",
                                              "null.png", "real.png"}));
}

// The signals that end a program from outside remove its temporaries, and still end it.
TEST_F(Files, SignalsRemoveTemporaries) {
    write("kept.gif", "the user's own file");
    for (const int signal : {SIGINT, SIGTERM, SIGHUP, SIGPIPE}) {
        struct sigaction inherited {};
        ::sigaction(signal, nullptr, &inherited);
        if (inherited.sa_handler == SIG_IGN) {
            continue; // ignored by whoever started the test, so ignored by the tools too
        }
        const pid_t child = ::fork();
        ASSERT_GE(child, 0);
        if (child == 0) {
            Tools::Output_File first(path("kept.gif"));
            Tools::Output_File second(path("new.png"));
            put(first, "half");
            std::fflush(first.stream());
            ::raise(signal);
            ::_exit(0);
        }
        int status = 0;
        ASSERT_EQ(::waitpid(child, &status, 0), child);
        EXPECT_TRUE(WIFSIGNALED(status) && WTERMSIG(status) == signal) << signal;
        EXPECT_EQ(names(), std::set<std::string>{"kept.gif"}) << signal;
    }
    EXPECT_EQ(read("kept.gif"), "the user's own file");
}

TEST_F(Files, SameFileComparesTheFilesNamed) {
    fs::create_directories(path("sub"));
    write("file", "");
    fs::create_hard_link(path("file"), path("hard"));
    fs::create_symlink("file", path("soft"));
    const fs::path here = fs::current_path();
    fs::current_path(folder);
    struct Case {
        const char* a;
        const char* b;
        bool same;
    };
    for (const Case c : {
             Case{"s.png", "./s.png", true},
             Case{"s.png", "sub/../s.png", true},
             Case{"s.png", "sub/s.png", false},
             Case{"file", "hard", true},
             Case{"soft", "./file", true},
             Case{"file", "new", false},
         }) {
        EXPECT_EQ(Tools::same_file(c.a, c.b), c.same) << c.a << " " << c.b;
    }
    fs::current_path(here);
}

TEST_F(Files, ReadsStopOneByteAfterTheLimit) {
    write("four", "abcd");
    const auto zero = Tools::read_at_most("/dev/zero", 10);
    EXPECT_EQ(zero.bytes, std::string(10, '\0'));
    EXPECT_TRUE(zero.longer);
    const auto exact = Tools::read_at_most(path("four"), 4);
    EXPECT_EQ(exact.bytes, "abcd");
    EXPECT_FALSE(exact.longer);
    EXPECT_TRUE(Tools::read_at_most(path("four"), 3).longer);
    EXPECT_EQ(Tools::read_at_most(folder, 3).error, std::errc::is_a_directory);
    EXPECT_EQ(Tools::read_at_most(path("absent"), 3).error, std::errc::no_such_file_or_directory);
}

TEST(Printable, EscapesWhatATerminalWouldObeyAndShortensLongTexts) {
    struct Case {
        std::string text;
        std::string shown;
    };
    for (const Case& c : {
             Case{"plain text, caf\xC3\xA9 \xE2\x82\xAC", "plain text, caf\xC3\xA9 \xE2\x82\xAC"},
             Case{std::string("\x1B[2J\x07\0!\x7F", 8), "\\x1B[2J\\x07\\x00!\\x7F"},
             Case{"lone \xC3 and \xFF", "lone \\xC3 and \\xFF"},
             Case{"C1 \xC2\x9B"
                  "31m",
                  "C1 \\xC2\\x9B31m"},
             Case{"overlong \xC0\xAF, surrogate \xED\xA0\x80",
                  "overlong \\xC0\\xAF, surrogate \\xED\\xA0\\x80"},
         }) {
        EXPECT_EQ(Tools::printable(c.text), c.shown) << c.shown;
    }

    const std::string line = "a:1: found \"" + std::string(10'000'000, 'x') + "\xE2\x82\xAC\"";
    const std::string shown = Tools::printable(line);
    EXPECT_LT(shown.size(), 500u);
    EXPECT_EQ(shown.substr(0, 13), "a:1: found \"x");
    EXPECT_NE(shown.find(" [... "), std::string::npos);
    EXPECT_EQ(shown.substr(shown.size() - 5), "x\xE2\x82\xAC\"") << "the end is kept whole";
    EXPECT_EQ(Tools::printable(std::string(Tools::longest_printable, 'y')),
              std::string(Tools::longest_printable, 'y'));
}

TEST(Numbers, ReadTheFormsOfOptionsAndSourcesAndNothingElse) {
    struct Case {
        const char* text;
        std::optional<std::uint32_t> value;
    };
    for (const Case& c : {
             Case{"8192", 8192},
             Case{"0x2000", 0x2000},
             Case{"0X1f", 0x1F},
             Case{"2000H", 0x2000},
             Case{"0ffh", 0xFF},
             Case{"1010B", 10},
             Case{"17O", 15},
             Case{"17q", 15},
             Case{"31D", 31},
             Case{"4294967295", 0xFFFFFFFF},
             Case{"0FFFFFFFFH", 0xFFFFFFFF},
             Case{"4294967296", std::nullopt},
             Case{"ADDH", std::nullopt},
             Case{"8k", std::nullopt},
             Case{"0x", std::nullopt},
             Case{"H", std::nullopt},
             Case{"12AB", std::nullopt},
             Case{"19O", std::nullopt},
             Case{"-1", std::nullopt},
             Case{" 1", std::nullopt},
             Case{"", std::nullopt},
         }) {
        EXPECT_EQ(Tools::parse_number(c.text), c.value) << c.text;
    }
}

} // namespace

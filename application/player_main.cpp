// drovask-play: plays ROM image files in the program's window. See `usage` below.

#include "application/player_loop.hpp"
#include "base/clock.hpp"
#include "base/exception.hpp"
#include "machine/board.hpp"
#include "machine/rom_file.hpp"
#include "window/window.hpp"

#if DROVASK_PLAY_FILES
#include "application/state_slots.hpp"
#include "tools/files/output_file.hpp"
#endif

#include <cstdio>
#include <filesystem>
#include <iostream>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace {

namespace fs = std::filesystem;

const std::string usage =
    R"(Usage: drovask-play ROM... [--reload] [--record FILE]
Plays a ROM image of the machine in a window, as tavrin-mirellon plays its built-in program,
but on drovask-run's clock (an interrupt after every 1,938 instructions, run for the real time
that has passed), so that drovask-run replays a played session exactly. ROM is one file of
8,192 bytes, or several files that, concatenated in the order given, make 8,192 bytes.

  --reload         start the machine again from the new image whenever a ROM file changes
                   (for example when the assembler writes it again); the window stays where it
                   is. A program error (an instruction that is not implemented) is shown in its
                   box and on standard error, and the player then waits for the next image.
  --record FILE    write the keys played as a key script for drovask-run --input, once the
                   player ends; its last line, and standard error, tell the frames played,
                   which --frames takes to show the last picture. With --reload the record
                   starts again with each new image. A rewind drops the keys played after the
                   frame gone back to; a load starts the record again from the loaded state,
                   written beside it as FILE.tmstate for drovask-run --load-state.
  --help           this text

Keys: )" +
    Drovask::machine_keys_text(90, "      ").substr(6) +
    R"(.
The arrow keys left and right and Space also move and fire, and so does a game controller:
d-pad or left stick to move, the bottom face button (A) to fire, Start for one player, Back
(Select) for a coin.
Ctrl and the left mouse button drag the window; Escape ends the program.
)" + player_keys_text() +
    R"(The slots are files beside the ROM file (the first one given), named after it: demo.bin's
slot 2 is demo.2.tmstate. A slot saved with another ROM image, or damaged, is refused with a
message and the machine goes on.

Exit status: 0 once the window is closed (an error of the program is shown in a box first);
1 when the record could not be written, or an error could not be shown (no display); 2 a bad
argument or ROM image, or a record file that may not be written, with the reason on standard
error.
)";

struct Options {
    std::vector<fs::path> roms;
    bool reload = false;
    std::optional<fs::path> record;
};

Options parse_arguments(int argc, char** argv) {
    Options options;
    for (int i = 1; i < argc; ++i) {
        const std::string_view argument = argv[i];
        if (argument == "--reload") {
            options.reload = true;
        } else if (argument == "--record") {
            if (i + 1 == argc) {
                throw Tavrin::Exception{"--record needs a FILE; see drovask-play --help"};
            }
#if !DROVASK_PLAY_FILES
            throw Tavrin::Exception{"--record is not available in this build of drovask-play; "
                                    "record on Linux"};
#endif
            options.record = argv[++i];
        } else if (argument.starts_with("-") && argument != "-") {
            throw Tavrin::Exception{"unknown option " + std::string(argument) +
                                    "; see drovask-play --help"};
        } else {
            options.roms.emplace_back(argument);
        }
    }
    if (options.roms.empty()) {
        throw Tavrin::Exception{"no ROM image given; see drovask-play --help"};
    }
    return options;
}

// Looks at the ROM files' times and sizes a few times a second and reads them again when either
// has changed. A new image that cannot be used is reported and the machine keeps running.
class Rom_Watch {
public:
    explicit Rom_Watch(std::vector<fs::path> paths) : paths_(std::move(paths)), seen_(stamps()) {}

    std::optional<std::vector<std::uint8_t>> changed() {
        const double now = Tavrin::steady_seconds();
        if (now - last_look_ < 0.25) {
            return std::nullopt;
        }
        last_look_ = now;
        const auto current = stamps();
        if (current == seen_) {
            return std::nullopt;
        }
        seen_ = current;
        try {
            auto image = Drovask::read_rom_files(paths_);
            std::cerr << "drovask-play: the ROM changed; the machine starts again\n";
            return image;
        } catch (const Tavrin::Exception& exception) {
            std::cerr << "drovask-play: the ROM changed but cannot be played, so the machine "
                         "goes on with the old one: "
                      << exception.message << '\n';
            return std::nullopt;
        }
    }

private:
    struct Stamp {
        fs::file_time_type time;
        std::uintmax_t size;
        bool operator==(const Stamp&) const = default;
    };

    std::vector<Stamp> stamps() const {
        std::vector<Stamp> result;
        for (const fs::path& path : paths_) {
            std::error_code error;
            const auto time = fs::last_write_time(path, error);
            const auto size = fs::file_size(path, error);
            result.push_back({error ? fs::file_time_type{} : time, error ? 0 : size});
        }
        return result;
    }

    std::vector<fs::path> paths_;
    std::vector<Stamp> seen_;
    double last_look_ = 0.0;
};

// "Tavrin Mirellon - demo.bin", or "... - low.bin + high.bin" for a ROM in several files.
std::string window_title(const std::vector<fs::path>& roms) {
    std::string title = "Tavrin Mirellon - ";
    for (std::size_t i = 0; i < roms.size(); ++i) {
        title += (i == 0 ? "" : " + ") + roms[i].filename().string();
    }
    return title;
}

#if DROVASK_PLAY_FILES
// The record's file, taken once the window exists (the window system's handlers of SIGINT and
// SIGTERM, which close the window so that the record is still written, are in place by then).
class Record_File {
public:
    explicit Record_File(const Options& options) : options_(options) {}

    bool open() {
        try {
            file_.emplace(*options_.record);
            return true;
        } catch (const Tavrin::Exception& exception) {
            std::cerr << "drovask-play: --record: " << exception.message << '\n';
            return false;
        }
    }

    // The key script, and a last line with the frames played and how to replay them; after a
    // load, the state it starts from beside it. Returns false (and says why) when a file could
    // not be written. Where the window never came, there is nothing to write.
    bool write(const Key_Record& record) {
        if (!file_) {
            return true;
        }
        std::string replay = "drovask-run";
        for (const fs::path& rom : options_.roms) {
            replay += " " + rom.string();
        }
        const fs::path start_state = options_.record->string() + ".tmstate";
        if (!record.start_state().empty()) {
            replay += " --load-state " + start_state.string();
        }
        replay += " --input " + options_.record->string() + " --frames " +
                  std::to_string(record.frames());
        try {
            if (!record.start_state().empty()) {
                write_file(start_state, record.start_state());
            }
            std::fputs(record.text().c_str(), file_->stream());
            std::fprintf(file_->stream(), "# %llu frames played: %s\n",
                         static_cast<unsigned long long>(record.frames()), replay.c_str());
            file_->commit();
        } catch (const Tavrin::Exception& exception) {
            std::cerr << "drovask-play: --record: " << exception.message << '\n';
            return false;
        }
        std::cerr << "drovask-play: " << record.frames() << " frames played; " << replay
                  << " replays them\n";
        return true;
    }

private:
    const Options& options_;
    std::optional<Tools::Output_File> file_;
};
#endif

} // namespace

int main(int argc, char** argv) {
    for (int i = 1; i < argc; ++i) {
        if (std::string_view(argv[i]) == "--help" || std::string_view(argv[i]) == "-h") {
            std::cout << usage;
            return 0;
        }
    }
    Options options;
    std::vector<std::uint8_t> image;
    try {
        options = parse_arguments(argc, argv);
        image = Drovask::read_rom_files(options.roms);
    } catch (const Tavrin::Exception& exception) {
        std::cerr << "drovask-play: " << exception.message << '\n';
        return exit_refused;
    }
    const Drovask::Rom rom{image.data(), Drovask::rom_size};
    // Unlike tavrin-mirellon, the player takes the arrows, Space and a game controller too
    // (through Key_Map, in its loop).
    Tavrin::turn_on_gamepads();
    Player_Settings settings;
    settings.title = window_title(options.roms);
    std::optional<Rom_Watch> watch;
    if (options.reload) {
        watch.emplace(options.roms);
        settings.reload = [&watch] { return watch->changed(); };
        settings.wait_after_error = true;
    }
    Key_Record record;
#if DROVASK_PLAY_FILES
    Record_File record_file(options);
    if (options.record) {
        settings.record = &record;
        settings.on_window = [&record_file] { return record_file.open(); };
    }
    const State_Slots slots(options.roms.front());
    settings.save_slot = [&slots](unsigned slot, const Drovask::Session& session,
                                  Drovask::Rom played) {
        slots.save(slot, session, played);
        return slots.path(slot).string();
    };
    settings.load_slot = [&slots](unsigned slot, Drovask::Rom played,
                                  std::uint32_t instructions_per_interrupt) {
        return slots.load(slot, played, instructions_per_interrupt);
    };
#endif
    const int status = run_player(rom, settings);
#if DROVASK_PLAY_FILES
    if (options.record && status != exit_refused && !record_file.write(record)) {
        return 1;
    }
#endif
    return status;
}

// drovask-play: plays ROM image files in the program's window. See `usage` below.

#include "application/desktop_loop.hpp"
#include "machine/board.hpp"
#include "machine/rom_file.hpp"
#include "base/clock.hpp"
#include "base/exception.hpp"
#include "window/window.hpp"

#include <filesystem>
#include <iostream>
#include <string>
#include <string_view>
#include <vector>

namespace {

namespace fs = std::filesystem;

constexpr int exit_refused = 2;

const std::string usage = R"(Usage: drovask-play ROM... [--reload]
Plays a ROM image of the machine in a window, as tavrin-mirellon plays its built-in program.
ROM is one file of 8,192 bytes, or several files that, concatenated in the order given, make
8,192 bytes.

  --reload   start the machine again from the new image whenever a ROM file changes (for
             example when the assembler writes it again); the window stays where it is
  --help     this text

Keys: )" + Drovask::machine_keys_text(90, "      ").substr(6) +
                          R"(.
The arrow keys left and right and Space also move and fire, and so does a game controller:
d-pad or left stick to move, the bottom face button (A) to fire, Start for one player, Back
(Select) for a coin.
Ctrl and the left mouse button drag the window; Escape ends the program.

Exit status: 0 once the window is closed (an error of the program is shown in a box first);
2 a bad argument or ROM image, with the reason on standard error.
)";

struct Options {
    std::vector<fs::path> roms;
    bool reload = false;
};

Options parse_arguments(int argc, char** argv) {
    Options options;
    for (int i = 1; i < argc; ++i) {
        const std::string_view argument = argv[i];
        if (argument == "--reload") {
            options.reload = true;
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
    // Unlike tavrin-mirellon, the player takes the arrows, Space and a game controller too.
    Tavrin::turn_on_play_aliases();
    if (!options.reload) {
        return run_application(rom);
    }
    Rom_Watch watch(options.roms);
    return run_application(rom, [&watch] { return watch.changed(); });
}

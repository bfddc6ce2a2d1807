// cpm-run: runs a CP/M .COM test program on the processor and reports what it printed, how many
// instructions it executed and how long that took.

#include "base/exception.hpp"
#include "tools/cpm/cpm.hpp"
#include "tools/files/messages.hpp"

#include <chrono>
#include <cstdlib>
#include <iostream>
#include <string>
#include <string_view>

namespace {

constexpr const char* usage_text =
    "Usage: cpm-run PROGRAM.COM [--limit INSTRUCTIONS]\n"
    "Runs a CP/M program on the processor until it jumps to 0x0000, calls BDOS function 0 or\n"
    "has executed INSTRUCTIONS instructions.\n"
    "  --limit INSTRUCTIONS   stop after that many instructions (by default, no limit)\n"
    "  --help                 this text\n";

int usage() {
    std::cerr << usage_text;
    return 2;
}

} // namespace

int main(int argc, char** argv) {
    std::string path;
    std::uint64_t limit = Cpm::no_limit;
    for (int i = 1; i < argc; ++i) {
        const std::string_view argument = argv[i];
        if (argument == "--help" || argument == "-h") {
            std::cout << usage_text;
            return 0;
        }
        if (argument == "--limit" && i + 1 < argc) {
            const std::string_view value = argv[++i];
            const auto parsed = Cpm::parse_limit(value);
            if (!parsed) {
                std::cerr << "cpm-run: --limit needs a positive whole number, not \""
                          << Tools::printable(value) << "\".\n";
                return 2;
            }
            limit = *parsed;
        } else if (path.empty() && !argument.starts_with("-")) {
            path = argument;
        } else {
            return usage();
        }
    }
    if (path.empty()) {
        return usage();
    }

    bool running = false;
    try {
        const auto program = Cpm::load_program(path);
        const auto processor = Cpm::make_processor(program);
        const auto start = std::chrono::steady_clock::now();
        running = true;
        const Cpm::Result result = Cpm::run(*processor, limit, &std::cout);
        const std::chrono::duration<double> elapsed = std::chrono::steady_clock::now() - start;
        if (!result.output.empty() && result.output.back() != '\n') {
            std::cout << '\n';
        }
        std::cout << (result.finished ? "Finished" : "Stopped at the instruction limit")
                  << " after " << result.instructions << " instructions in " << elapsed.count()
                  << " s";
        if (elapsed.count() > 0) {
            std::cout << " (" << static_cast<double>(result.instructions) / elapsed.count() / 1e6
                      << " million instructions per second)";
        }
        std::cout << ".\n";
        return Tools::standard_output_written("cpm-run") ? (result.finished ? EXIT_SUCCESS : 3)
                                                         : EXIT_FAILURE;
    } catch (const Tavrin::Exception& error) {
        Tools::standard_output_written("cpm-run");
        std::cerr << (running ? "\n" : "") << "cpm-run: " << Tools::printable(error.message)
                  << '\n';
        return EXIT_FAILURE;
    }
}

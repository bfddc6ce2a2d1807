// The interpreter's speed on the first instructions of a CP/M exerciser (8080EX1.COM), built
// both natively and to WebAssembly by bench/web/run, which reports the two and their ratio.
// Usage: exerciser PROGRAM.COM [INSTRUCTIONS]   (200,000,000 by default)

#include "base/exception.hpp"
#include "processor/intel_8080.hpp"
#include "tools/cpm/cpm.hpp"

#include <chrono>
#include <cstdio>
#include <cstdlib>

namespace {

// One BDOS call, on the CP/M runner's own rules.
[[gnu::noinline]] void call_bdos(Intel_8080& processor) {
    Cpm::run(processor, 1);
}

// Nothing here has a destructor: in the WebAssembly build, where exceptions are caught through
// JavaScript, every call from a function that must clean up, or from a try block, would go
// through JavaScript: hence no inlining into main.
[[gnu::noinline]] std::uint64_t run(Intel_8080& processor, std::uint64_t limit) {
    std::uint64_t instructions = 0;
    while (instructions < limit && processor.pc != 0x0000) {
        if (processor.pc == Cpm::bdos_entry) {
            call_bdos(processor);
        } else {
            execute(processor);
        }
        ++instructions;
    }
    return instructions;
}

} // namespace

int main(int argc, char** argv) {
    if (argc < 2 || argc > 3) {
        std::fprintf(stderr, "Usage: exerciser PROGRAM.COM [INSTRUCTIONS]\n");
        return 2;
    }
    const std::uint64_t limit = argc == 3 ? std::strtoull(argv[2], nullptr, 10) : 200'000'000;
    try {
        const auto processor = Cpm::make_processor(Cpm::load_program(argv[1]));
        const auto start = std::chrono::steady_clock::now();
        const std::uint64_t instructions = run(*processor, limit);
        const std::chrono::duration<double> elapsed = std::chrono::steady_clock::now() - start;
        std::printf("%llu instructions in %.3f s: %.2f million a second\n",
                    static_cast<unsigned long long>(instructions), elapsed.count(),
                    static_cast<double>(instructions) / elapsed.count() / 1e6);
    } catch (const Tavrin::Exception& error) {
        std::fprintf(stderr, "exerciser: %s\n", error.message.c_str());
        return 1;
    }
    return 0;
}

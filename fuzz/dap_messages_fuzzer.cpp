// Fuzzes the debug adapter's message reader: frames, then the JSON in them. The first byte sets
// the size of the pieces that the rest arrives in, as reads from a pipe split it anywhere; the
// messages must come out the same as when the bytes arrive whole, and a broken frame must be
// broken however it arrives.

#include "base/exception.hpp"
#include "formats/json.hpp"
#include "tools/drovask-dap/framing.hpp"

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <string_view>
#include <vector>

namespace {

struct Outcome {
    std::vector<std::string> bodies;
    bool broken = false;
};

Outcome read(std::string_view input, std::size_t piece) {
    Outcome outcome;
    Dap::Frame_Reader reader;
    try {
        for (std::size_t at = 0; at < input.size(); at += piece) {
            reader.add(input.substr(at, piece));
            while (const auto body = reader.next()) {
                outcome.bodies.push_back(*body);
            }
        }
    } catch (const Tavrin::Exception&) {
        outcome.broken = true;
    }
    return outcome;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size == 0) {
        return 0;
    }
    const std::string_view input(reinterpret_cast<const char*>(data + 1), size - 1);
    const Outcome whole = read(input, input.size() + 1);
    const Outcome pieces = read(input, std::size_t{data[0]} % 16 + 1);
    // Broken whole, the pieces may break earlier or later, but not give other messages before.
    const std::size_t common = std::min(whole.bodies.size(), pieces.bodies.size());
    const bool same = whole.broken == pieces.broken
                          ? whole.bodies == pieces.bodies
                          : std::equal(whole.bodies.begin(), whole.bodies.begin() + common,
                                       pieces.bodies.begin());
    if (!same) {
        std::fprintf(stderr, "the messages depend on how the bytes arrive\n");
        std::abort();
    }
    for (const std::string& body : whole.bodies) {
        try {
            Formats::parse_json(body, "message");
        } catch (const Tavrin::Exception&) {
        }
    }
    return 0;
}

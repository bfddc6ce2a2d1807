// Fuzzes the JSON reader. It either throws a Tavrin::Exception or returns a value; a value it
// returns, written out and read again, must be the same value and write the same text, so the
// reader and the writer agree on every string, number and nesting that the reader lets through.

#include "base/exception.hpp"
#include "formats/json.hpp"

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string_view>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string_view text(reinterpret_cast<const char*>(data), size);
    Formats::Json value;
    try {
        value = Formats::parse_json(text, "fuzz.json");
    } catch (const Tavrin::Exception&) {
        return 0;
    }
    const std::string written = Formats::format_json(value);
    try {
        const Formats::Json again = Formats::parse_json(written, "written.json");
        if (Formats::format_json(again) != written) {
            std::fprintf(stderr, "JSON written and read again writes other text\n");
            std::abort();
        }
        // Numbers round to the 17 digits written, so only values without them compare whole.
        if (written.find_first_of(".eE") == std::string::npos && again != value) {
            std::fprintf(stderr, "JSON written and read again is another value\n");
            std::abort();
        }
    } catch (const Tavrin::Exception& error) {
        std::fprintf(stderr, "the reader refuses what the writer wrote: %s\n",
                     error.message.c_str());
        std::abort();
    }
    return 0;
}

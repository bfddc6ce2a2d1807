#include "processor/intel_8080.hpp"

#include "base/exception.hpp"
#include "processor/execute.hpp"

#include <iomanip>
#include <sstream>

// Flattened like the template it instantiates: every call inside is inlined.
[[gnu::flatten]] void execute(Intel_8080& p) {
    execute(p, No_Store_Observer{});
}

// Kept out of the flattened `execute`: the failure path builds a string.
[[gnu::noinline]] void unimplemented_instruction(Intel_8080& p) {
    std::ostringstream message;
    message << "Could not execute instruction \"" << std::hex << std::uppercase << std::setfill('0')
            << std::setw(2) << static_cast<unsigned>(p.opcode)
            << "\" because it has not been implemented.";
    throw Tavrin::Exception{message.str()};
}

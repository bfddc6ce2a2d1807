#pragma once

#include <string>

namespace Tavrin {

// The program's one error type: a complete message for the user, thrown and caught by value.
class Exception {
public:
    std::string message;
};

} // namespace Tavrin

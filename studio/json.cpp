#include "studio/json.hpp"

#include <cstdio>

namespace Studio::Json {

std::string string(std::string_view text) {
    std::string quoted = "\"";
    quoted.reserve(text.size() + 2);
    for (const char c : text) {
        switch (c) {
        case '"':
            quoted += "\\\"";
            break;
        case '\\':
            quoted += "\\\\";
            break;
        case '\n':
            quoted += "\\n";
            break;
        case '\r':
            quoted += "\\r";
            break;
        case '\t':
            quoted += "\\t";
            break;
        default:
            if (static_cast<unsigned char>(c) < 0x20) {
                char escape[8];
                std::snprintf(escape, sizeof escape, "\\u%04x", static_cast<unsigned>(c));
                quoted += escape;
            } else {
                quoted += c;
            }
        }
    }
    return quoted + '"';
}

std::string number(std::int64_t value) {
    return std::to_string(value);
}

std::string object(std::initializer_list<Field> fields) {
    std::string text = "{";
    for (const Field& field : fields) {
        if (text.size() > 1) {
            text += ',';
        }
        text += string(field.name) + ':' + field.value;
    }
    return text + '}';
}

} // namespace Studio::Json

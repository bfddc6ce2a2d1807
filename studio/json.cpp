#include "studio/json.hpp"

#include "formats/json.hpp"

namespace Studio::Json {

std::string string(std::string_view text) {
    return Formats::json_string(text);
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

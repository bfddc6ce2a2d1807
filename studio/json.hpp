#pragma once

// JSON text for what the studio hands to its page: strings escaped as JSON wants them, objects
// with named fields and arrays, built from values already written as JSON.
//
//     Studio::Json::object({{"reason", Studio::Json::string("breakpoint")},
//                           {"address", Studio::Json::number(0x0123)}});
//     // {"reason":"breakpoint","address":291}
//     Studio::Json::array(entries, [](const Entry& e) { return Studio::Json::number(e.value); });

#include <cstdint>
#include <initializer_list>
#include <string>
#include <string_view>

namespace Studio::Json {

// `text` in quotes, with quotes, backslashes and control characters escaped; other bytes (UTF-8)
// as they are.
std::string string(std::string_view text);

std::string number(std::int64_t value);

inline std::string boolean(bool value) {
    return value ? "true" : "false";
}

inline const std::string null = "null";

struct Field {
    std::string_view name;
    std::string value; // as JSON
};

// {"NAME":VALUE,...} in the order given.
std::string object(std::initializer_list<Field> fields);

// [VALUE,...]: `write(item)` is each item as JSON.
template <typename Items, typename Write>
std::string array(const Items& items, Write&& write) {
    std::string text = "[";
    for (const auto& item : items) {
        if (text.size() > 1) {
            text += ',';
        }
        text += write(item);
    }
    return text + ']';
}

} // namespace Studio::Json

#pragma once

// JSON values, read from text and written back: what the debug adapter speaks with an editor.
//
//     const Formats::Json request = Formats::parse_json(R"({"seq":1,"command":"next"})");
//     request.find("command")->string();     // "next"; find gives null for a missing member
//     Formats::Json reply = Formats::Json::Object{};
//     reply.set("success", true);
//     reply.set("body", Formats::Json::Object{{"pc", 0x0105}});
//     Formats::format_json(reply);           // {"success":true,"body":{"pc":261}}
//
// The reader takes RFC 8259 text and nothing else: no comments, no trailing commas, no leading
// zeros, no unescaped control characters, UTF-8 only, every \u escape a character (surrogates in
// pairs). Members keep their order; an object that names a member twice is refused.
// Nesting and size are bounded so that hostile text costs little; every refusal is a
// Tavrin::Exception whose message says where and what.

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace Formats {

class Json {
public:
    enum class Kind : std::uint8_t { null, boolean, number, string, array, object };
    using Array = std::vector<Json>;
    using Object = std::vector<std::pair<std::string, Json>>;

    Json() = default;
    Json(std::nullptr_t) {}
    Json(bool value) : kind_(Kind::boolean), boolean_(value) {}
    Json(double value) : kind_(Kind::number), number_(value) {}
    Json(int value) : Json(static_cast<double>(value)) {}
    Json(unsigned value) : Json(static_cast<double>(value)) {}
    Json(long value) : Json(static_cast<double>(value)) {}
    Json(unsigned long value) : Json(static_cast<double>(value)) {}
    Json(long long value) : Json(static_cast<double>(value)) {}
    Json(unsigned long long value) : Json(static_cast<double>(value)) {}
    Json(std::string value) : kind_(Kind::string), string_(std::move(value)) {}
    Json(std::string_view value) : Json(std::string(value)) {}
    Json(const char* value) : Json(std::string(value)) {}
    Json(Array value) : kind_(Kind::array), array_(std::move(value)) {}
    Json(Object value) : kind_(Kind::object), object_(std::move(value)) {}

    Kind kind() const { return kind_; }
    bool is_null() const { return kind_ == Kind::null; }
    bool is_bool() const { return kind_ == Kind::boolean; }
    bool is_number() const { return kind_ == Kind::number; }
    bool is_string() const { return kind_ == Kind::string; }
    bool is_array() const { return kind_ == Kind::array; }
    bool is_object() const { return kind_ == Kind::object; }

    // The value as its kind; a value of another kind reads as false, 0, "" or empty.
    bool boolean() const { return boolean_; }
    double number() const { return number_; }
    const std::string& string() const { return string_; }
    const Array& array() const { return array_; }
    const Object& object() const { return object_; }
    Array& array() { return array_; }

    // The member named `name` of an object, or null (also for a value that is not an object).
    const Json* find(std::string_view name) const;
    // Sets a member of an object (replacing one of that name), making a null value an object.
    void set(std::string_view name, Json value);
    // Adds to an array, making a null value an array.
    void push_back(Json value);

    // Same kind and same value; objects compare member by member in their order.
    bool operator==(const Json&) const = default;

private:
    Kind kind_ = Kind::null;
    bool boolean_ = false;
    double number_ = 0;
    std::string string_;
    Array array_;
    Object object_;
};

inline constexpr std::size_t max_json_size = 64 << 20; // bytes of text
inline constexpr int max_json_depth = 64;              // arrays and objects inside each other

// The one value that `text` holds, with white space around it allowed. Throws Tavrin::Exception
// with "NAME: line L, column C: what is wrong".
Json parse_json(std::string_view text, const std::string& name = "JSON");

// The value as compact JSON text (no white space). Numbers that are whole and within 2^53 are
// written without a fraction; other numbers with the 17 digits that read back exactly; numbers
// that JSON cannot hold (infinities, NaN) as null. Strings are escaped as JSON requires.
std::string format_json(const Json& value);

// `text` as a JSON string: in quotes, with quotes, backslashes and control characters escaped;
// other bytes (UTF-8) as they are.
std::string json_string(std::string_view text);

} // namespace Formats

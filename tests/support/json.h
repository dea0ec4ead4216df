// A small JSON reader and string quoter: enough for the DevTools protocol's
// messages, which are read whole (screenshots make them megabytes long).
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

class json_value {
public:
    enum class kind { null, boolean, number, string, array, object };

    json_value() = default;

    kind type() const { return kind_; }
    bool is_null() const { return kind_ == kind::null; }

    // Each throws std::runtime_error when the value is of another kind.
    bool as_bool() const;
    double as_number() const;
    int64_t as_int() const;  // a number with no fraction
    const std::string &as_string() const;
    const std::vector<json_value> &as_array() const;

    // The member of an object, or nullptr when absent or not an object.
    const json_value *find(std::string_view key) const;
    // The member of an object; throws when absent.
    const json_value &at(std::string_view key) const;

    // Compact JSON text again, for messages.
    std::string dump() const;

    // Parses one JSON text; throws std::runtime_error on malformed input
    // or on anything but white space after it.
    static json_value parse(std::string_view text);

private:
    friend class json_parser;

    kind kind_ = kind::null;
    bool boolean_ = false;
    double number_ = 0;
    std::string string_;
    std::vector<json_value> array_;
    std::vector<std::pair<std::string, json_value>> object_;
};

// text as a JSON string literal, quotes included; text must be UTF-8.
std::string json_quote(std::string_view text);

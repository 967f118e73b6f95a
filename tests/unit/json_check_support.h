// A small strict JSON reader for the tests: every body the program posts must parse.
#pragma once

#include <map>
#include <memory>
#include <stdexcept>
#include <string>
#include <variant>
#include <vector>

namespace testing_support {

struct JsonValue;
using JsonArray = std::vector<JsonValue>;
using JsonObject = std::vector<std::pair<std::string, JsonValue>>;  // in document order

struct JsonValue {
    // null, Boolean, number (its text), string (decoded to UTF-8), array, object
    std::variant<std::nullptr_t, bool, std::string, std::string, std::shared_ptr<JsonArray>,
                 std::shared_ptr<JsonObject>>
        value;

    bool IsNumber() const { return value.index() == 2; }
    bool IsString() const { return value.index() == 3; }
    bool IsBool() const { return value.index() == 1; }
    const std::string& Number() const { return std::get<2>(value); }
    const std::string& String() const { return std::get<3>(value); }
    bool Bool() const { return std::get<1>(value); }
    const JsonArray& Array() const { return *std::get<4>(value); }
    const JsonObject& Object() const { return *std::get<5>(value); }
    // The member of an object by name; throws when absent.
    const JsonValue& operator[](const std::string& name) const;
};

struct JsonError : std::runtime_error {
    using std::runtime_error::runtime_error;
};

// The whole text as one JSON value (RFC 8259: no trailing text, no leading zeros, no raw control
// characters in strings). Throws JsonError with the offset of the fault.
JsonValue ParseJson(const std::string& text);

}  // namespace testing_support

// A property-list value tree with a binary ("bplist00") writer and a strict reader. The reader
// checks every offset, count and reference against the input, refuses cycles and bounds the
// work an input can cause, so arbitrary bytes never overrun or exhaust memory.
#pragma once

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <variant>
#include <vector>

namespace phonesim::plist {

struct Value;
using Array = std::vector<Value>;
using Dict = std::vector<std::pair<std::string, Value>>;  // insertion order kept
using Data = std::vector<uint8_t>;

struct Value {
    // bool, integer, real, string (UTF-8), data, array, dictionary
    std::variant<bool, int64_t, double, std::string, Data, Array, Dict> v;

    Value() : v(false) {}
    Value(bool x) : v(x) {}
    Value(int x) : v(int64_t{x}) {}
    Value(int64_t x) : v(x) {}
    Value(double x) : v(x) {}
    Value(const char* s) : v(std::string(s)) {}
    Value(std::string s) : v(std::move(s)) {}
    Value(Data d) : v(std::move(d)) {}
    Value(Array a) : v(std::move(a)) {}
    Value(Dict d) : v(std::move(d)) {}

    bool operator==(const Value&) const = default;

    template <class T>
    const T* get() const { return std::get_if<T>(&v); }
    // Dictionary lookup; none when this is not a dictionary or lacks the key.
    const Value* find(std::string_view key) const;
};

// Serialises a tree as a binary property list. Strings that are not valid UTF-8 are written with
// U+FFFD in place of the bad bytes.
std::vector<uint8_t> WriteBinary(const Value& root);

// Parses a binary property list; none for anything malformed.
std::optional<Value> ReadBinary(const uint8_t* bytes, size_t size);
inline std::optional<Value> ReadBinary(const std::vector<uint8_t>& bytes) {
    return ReadBinary(bytes.data(), bytes.size());
}

// Compact JSON text of a tree (data as {"data":"<hex>"}), for logs.
std::string ToJson(const Value& value);

}  // namespace phonesim::plist

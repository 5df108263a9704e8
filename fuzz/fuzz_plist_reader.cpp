// The simulated phone's binary property-list reader on arbitrary bytes: it must refuse or parse
// without overrunning, hanging or allocating without bound (the fuzzer's time-out and memory
// limits catch the last two). What it accepts must survive the writer: writing the tree and
// reading it back gives the same tree when every string and key is UTF-8 (others come back with
// U+FFFD once, and then stay as they are).
#include <cstring>

#include "phonesim/common.h"
#include "phonesim/plist.h"

namespace plist = phonesim::plist;

namespace {

void Require(bool condition, const char* what) {
    if (condition) return;
    __builtin_printf("fuzz check failed: %s\n", what);
    __builtin_trap();
}

// Equality with reals compared by their bits, so that NaN equals itself.
bool SameTree(const plist::Value& a, const plist::Value& b) {
    if (a.v.index() != b.v.index()) return false;
    if (const auto* ra = a.get<double>()) return std::memcmp(ra, b.get<double>(), sizeof(double)) == 0;
    if (const auto* xa = a.get<plist::Array>()) {
        const auto& xb = *b.get<plist::Array>();
        if (xa->size() != xb.size()) return false;
        for (size_t i = 0; i < xa->size(); ++i) {
            if (!SameTree((*xa)[i], xb[i])) return false;
        }
        return true;
    }
    if (const auto* da = a.get<plist::Dict>()) {
        const auto& db = *b.get<plist::Dict>();
        if (da->size() != db.size()) return false;
        for (size_t i = 0; i < da->size(); ++i) {
            if ((*da)[i].first != db[i].first || !SameTree((*da)[i].second, db[i].second)) return false;
        }
        return true;
    }
    return a == b;
}

bool AllUtf8(const plist::Value& value) {
    if (const auto* s = value.get<std::string>()) return phonesim::IsValidUtf8(*s);
    if (const auto* a = value.get<plist::Array>()) {
        for (const auto& item : *a) {
            if (!AllUtf8(item)) return false;
        }
    }
    if (const auto* d = value.get<plist::Dict>()) {
        for (const auto& [key, item] : *d) {
            if (!phonesim::IsValidUtf8(key) || !AllUtf8(item)) return false;
        }
    }
    return true;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    std::optional<plist::Value> first = plist::ReadBinary(data, size);
    if (!first) return 0;
    std::optional<plist::Value> second = plist::ReadBinary(plist::WriteBinary(*first));
    Require(second.has_value(), "the writer's output of an accepted tree is refused");
    Require(!AllUtf8(*first) || SameTree(*first, *second), "a UTF-8 tree does not survive writing and reading");
    std::optional<plist::Value> third = plist::ReadBinary(plist::WriteBinary(*second));
    Require(third.has_value() && SameTree(*second, *third), "a tree does not survive writing and reading");
    return 0;
}

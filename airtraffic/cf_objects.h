// Small helpers for making CoreFoundation property-list objects through the bound table. Every
// object made is owned by a CfObject and released when it goes out of scope.
#pragma once

#include <cstdint>
#include <utility>

#include "device/apple_bindings.h"

class CfObject {
public:
    CfObject() = default;
    explicit CfObject(CFTypeRef object) : object_(object) {}
    ~CfObject() { reset(); }
    CfObject(CfObject&& other) noexcept : object_(std::exchange(other.object_, nullptr)) {}
    CfObject& operator=(CfObject&& other) noexcept {
        if (this != &other) {
            reset();
            object_ = std::exchange(other.object_, nullptr);
        }
        return *this;
    }
    CfObject(const CfObject&) = delete;
    CfObject& operator=(const CfObject&) = delete;

    CFTypeRef get() const { return object_; }
    void* mutableGet() const { return const_cast<void*>(object_); }
    explicit operator bool() const { return object_ != nullptr; }
    void reset() {
        if (object_) CoreFoundation.CFRelease(object_);
        object_ = nullptr;
    }

private:
    CFTypeRef object_ = nullptr;
};

inline CfObject MakeConstantString(const char* text) { return CfObject(CoreFoundation.__CFStringMakeConstantString(text)); }
inline CfObject MakeUtf8String(const char* text) {
    return CfObject(CoreFoundation.CFStringCreateWithCString(nullptr, text, kCFStringEncodingUTF8));
}
inline CfObject MakeDictionary(CFIndex capacity = 0) {
    return CfObject(CoreFoundation.CFDictionaryCreateMutable(nullptr, capacity, &CoreFoundation.kCFTypeDictionaryKeyCallBacks,
                                                              &CoreFoundation.kCFTypeDictionaryValueCallBacks));
}
// Arrays without callbacks do not retain their elements: callers keep each element alive.
inline CfObject MakeArray(CFIndex capacity = 0) { return CfObject(CoreFoundation.CFArrayCreateMutable(nullptr, capacity, nullptr)); }

template <typename T>
CfObject MakeNumber(CFNumberType type, T value) {
    return CfObject(CoreFoundation.CFNumberCreate(nullptr, type, &value));
}
inline CfObject MakeInt8(int8_t value) { return MakeNumber(kCFNumberSInt8Type, value); }
inline CfObject MakeInt32(int32_t value) { return MakeNumber(kCFNumberSInt32Type, value); }
inline CfObject MakeLong(long value) { return MakeNumber(kCFNumberLongType, value); }
inline CfObject MakeLongLong(long long value) { return MakeNumber(kCFNumberLongLongType, value); }

// Adds key (a constant string made here and released after) and value to a dictionary. A part
// that could not be made is left out: CoreFoundation retains what is added, and retaining none
// ends the process.
inline void AddValue(const CfObject& dict, const char* key, CFTypeRef value) {
    CfObject keyString = MakeConstantString(key);
    if (!dict || !keyString || !value) return;
    CoreFoundation.CFDictionaryAddValue(dict.mutableGet(), keyString.get(), value);
}
inline void AddValue(const CfObject& dict, const char* key, const CfObject& value) { AddValue(dict, key, value.get()); }
inline void AddString(const CfObject& dict, const char* key, const char* value) { AddValue(dict, key, MakeConstantString(value)); }
inline void Append(const CfObject& array, const CfObject& value) {
    if (!array || !value) return;
    CoreFoundation.CFArrayAppendValue(array.mutableGet(), value.get());
}

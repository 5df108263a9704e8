// CoreFoundation stand-in: reference-counted objects with a type tag. The whole object model lives
// in this library; the other two stand-ins and the program only go through its exports.
#include <atomic>
#include <climits>
#include <cstring>
#include <map>
#include <mutex>
#include <type_traits>
#include <unordered_set>

#include "phonesim/common.h"
#include "phonesim/phonesim_api.h"
#include "phonesim/plist.h"

namespace {

using namespace phonesim;

enum class Kind : uint32_t { String = 1, Number, Boolean, Dictionary, Array, Data };

struct Object {
    constexpr Object(Kind k, bool immortal) : kind(k), immortal(immortal) {}
    Kind kind;
    bool immortal;  // constant strings and the two booleans: never destroyed
    std::atomic<int64_t> refs{1};
};

struct String : Object {
    explicit String(std::string text, bool immortal = false)
        : Object(Kind::String, immortal), utf8(std::move(text)), utf16Length(Utf16Length(utf8)) {}
    std::string utf8;  // always valid UTF-8
    size_t utf16Length;
};

struct Number : Object {
    explicit Number(int64_t v) : Object(Kind::Number, false), value(v) {}
    int64_t value;
};

struct Boolean : Object {
    constexpr explicit Boolean(bool v) : Object(Kind::Boolean, true), value(v) {}
    bool value;
};

struct Data : Object {
    explicit Data(std::vector<uint8_t> b) : Object(Kind::Data, false), bytes(std::move(b)) {}
    std::vector<uint8_t> bytes;
};

// Element callbacks as passed by the creator (copied by value); zero members do nothing.
struct Callbacks {
    CFDictionaryRetainCallBack retain = nullptr;
    CFDictionaryReleaseCallBack release = nullptr;
    CFDictionaryEqualCallBack equal = nullptr;

    const void* Retain(const void* p) const { return retain ? retain(nullptr, p) : p; }
    void Release(const void* p) const {
        if (release) release(nullptr, p);
    }
};

struct Dictionary : Object {
    Dictionary() : Object(Kind::Dictionary, false) {}
    Callbacks keyCallbacks, valueCallbacks;
    std::vector<std::pair<const void*, const void*>> pairs;  // insertion order
    std::mutex mutex;
};

struct Array : Object {
    Array() : Object(Kind::Array, false) {}
    Callbacks callbacks;
    std::vector<const void*> items;
    std::mutex mutex;
};

constinit Boolean g_true(true);
constinit Boolean g_false(false);

// Every live object, so that a stale or foreign pointer is refused instead of followed.
struct Registry {
    std::mutex mutex;
    std::unordered_set<const Object*> live;
    std::map<std::string, String*> constants;  // interned constant strings, never freed
    std::atomic<int64_t> counted{0};           // live objects that are not immortal
};

Registry& Reg() {
    static Registry* registry = new Registry;  // left alive at exit: objects may outlive statics
    return *registry;
}

template <class T>
T* Register(T* object) {
    Registry& r = Reg();
    std::lock_guard lock(r.mutex);
    r.live.insert(object);
    if (!object->immortal) ++r.counted;
    return object;
}

const Object* Lookup(const void* p) {
    if (!p) return nullptr;
    if (p == &g_true || p == &g_false) return static_cast<const Object*>(p);
    Registry& r = Reg();
    std::lock_guard lock(r.mutex);
    auto it = r.live.find(static_cast<const Object*>(p));
    return it == r.live.end() ? nullptr : *it;
}

template <class T>
T* As(const void* p, Kind kind) {
    const Object* o = Lookup(p);
    return o && o->kind == kind ? const_cast<T*>(static_cast<const T*>(o)) : nullptr;
}

void Retain(const void* p) {
    if (Object* o = const_cast<Object*>(Lookup(p)); o && !o->immortal) ++o->refs;
}

void Destroy(Object* o);

void Release(const void* p) {
    Object* o = const_cast<Object*>(Lookup(p));
    if (!o) {
        if (p) std::fprintf(stderr, "phonesim: CFRelease of an unknown object %p\n", p);
        return;
    }
    if (o->immortal) return;
    if (--o->refs == 0) {
        {
            Registry& r = Reg();
            std::lock_guard lock(r.mutex);
            r.live.erase(o);
            --r.counted;
        }
        Destroy(o);
    }
}

void Destroy(Object* o) {
    switch (o->kind) {
        case Kind::String: delete static_cast<String*>(o); break;
        case Kind::Number: delete static_cast<Number*>(o); break;
        case Kind::Data: delete static_cast<Data*>(o); break;
        case Kind::Dictionary: {
            auto* d = static_cast<Dictionary*>(o);
            for (auto& [key, value] : d->pairs) {
                d->keyCallbacks.Release(key);
                d->valueCallbacks.Release(value);
            }
            delete d;
            break;
        }
        case Kind::Array: {
            auto* a = static_cast<Array*>(o);
            for (const void* item : a->items) a->callbacks.Release(item);
            delete a;
            break;
        }
        case Kind::Boolean: break;
    }
}

bool Equal(const void* a, const void* b) {
    if (a == b) return true;
    const Object* x = Lookup(a);
    const Object* y = Lookup(b);
    if (!x || !y || x->kind != y->kind) return false;
    switch (x->kind) {
        case Kind::String: return static_cast<const String*>(x)->utf8 == static_cast<const String*>(y)->utf8;
        case Kind::Number: return static_cast<const Number*>(x)->value == static_cast<const Number*>(y)->value;
        case Kind::Data: return static_cast<const Data*>(x)->bytes == static_cast<const Data*>(y)->bytes;
        default: return false;  // containers compare by identity
    }
}

uintptr_t Hash(const void* p) {
    const Object* o = Lookup(p);
    if (!o) return 0;
    if (o->kind == Kind::String) return std::hash<std::string>{}(static_cast<const String*>(o)->utf8);
    if (o->kind == Kind::Number) return static_cast<uintptr_t>(static_cast<const Number*>(o)->value);
    return reinterpret_cast<uintptr_t>(p);
}

// The property-list tree of an object graph; none for foreign objects, non-string dictionary
// keys, cycles or absurd depth.
std::optional<plist::Value> ToPlist(const void* p, unsigned depth) {
    if (depth > 512) return std::nullopt;
    const Object* o = Lookup(p);
    if (!o) return std::nullopt;
    switch (o->kind) {
        case Kind::String: return plist::Value(static_cast<const String*>(o)->utf8);
        case Kind::Number: return plist::Value(static_cast<const Number*>(o)->value);
        case Kind::Boolean: return plist::Value(static_cast<const Boolean*>(o)->value);
        case Kind::Data: return plist::Value(plist::Data(static_cast<const Data*>(o)->bytes));
        case Kind::Array: {
            auto* a = const_cast<Array*>(static_cast<const Array*>(o));
            std::vector<const void*> items;
            {
                std::lock_guard lock(a->mutex);
                items = a->items;
            }
            plist::Array out;
            for (const void* item : items) {
                auto v = ToPlist(item, depth + 1);
                if (!v) return std::nullopt;
                out.push_back(std::move(*v));
            }
            return plist::Value(std::move(out));
        }
        case Kind::Dictionary: {
            auto* d = const_cast<Dictionary*>(static_cast<const Dictionary*>(o));
            std::vector<std::pair<const void*, const void*>> pairs;
            {
                std::lock_guard lock(d->mutex);
                pairs = d->pairs;
            }
            plist::Dict out;
            for (auto& [key, value] : pairs) {
                const String* k = As<String>(key, Kind::String);
                auto v = ToPlist(value, depth + 1);
                if (!k || !v) return std::nullopt;
                out.emplace_back(k->utf8, std::move(*v));
            }
            return plist::Value(std::move(out));
        }
    }
    return std::nullopt;
}

// Calls without a phone consult $PHONESIM_ROOT/faults.
bool Fault(std::string_view name, std::optional<std::string_view> arg = std::nullopt) {
    return RootFault(name, arg);
}

Callbacks FromKeyTable(const CFDictionaryKeyCallBacks* t) {
    return t ? Callbacks{t->retain, t->release, t->equal} : Callbacks{};
}
Callbacks FromValueTable(const CFDictionaryValueCallBacks* t) {
    return t ? Callbacks{t->retain, t->release, t->equal} : Callbacks{};
}

// The members of kCFTypeDictionaryKeyCallBacks / ValueCallBacks.
const void* APPLE_CALL TypeRetain(CFAllocatorRef, const void* p) {
    Retain(p);
    return p;
}
void APPLE_CALL TypeRelease(CFAllocatorRef, const void* p) { Release(p); }
CFStringRef APPLE_CALL TypeCopyDescription(const void* p) {
    return Guarded<CFStringRef>(nullptr, [&]() -> CFStringRef {
        auto v = ToPlist(p, 0);
        return Register(new String(v ? plist::ToJson(*v) : std::string("null")));
    });
}
uint8_t APPLE_CALL TypeEqual(const void* a, const void* b) { return Equal(a, b) ? 1 : 0; }
uintptr_t APPLE_CALL TypeHash(const void* p) { return Hash(p); }

}  // namespace

extern "C" {

const CFBooleanRef kCFBooleanFalse = &g_false;
const CFBooleanRef kCFBooleanTrue = &g_true;
const CFDictionaryKeyCallBacks kCFTypeDictionaryKeyCallBacks = {0, TypeRetain, TypeRelease, TypeCopyDescription,
                                                                TypeEqual, TypeHash};
const CFDictionaryValueCallBacks kCFTypeDictionaryValueCallBacks = {0, TypeRetain, TypeRelease,
                                                                    TypeCopyDescription, TypeEqual};

CFStringRef APPLE_CALL __CFStringMakeConstantString(const char* text) {
    if (!text) return nullptr;
    return Guarded<CFStringRef>(nullptr, [&]() -> CFStringRef {
        if (Fault("__CFStringMakeConstantString", text)) return nullptr;
        Registry& r = Reg();
        std::lock_guard lock(r.mutex);
        auto it = r.constants.find(text);
        if (it != r.constants.end()) return it->second;
        auto* s = new String(SanitizeUtf8(text), true);
        r.constants.emplace(text, s);
        r.live.insert(s);
        return s;
    });
}

void APPLE_CALL CFRelease(CFTypeRef object) { GuardedVoid([&] { Release(object); }); }

CFNumberRef APPLE_CALL CFNumberCreate(CFAllocatorRef, CFNumberType type, const void* value) {
    if (!value) return nullptr;
    return Guarded<CFNumberRef>(nullptr, [&]() -> CFNumberRef {
        if (Fault("CFNumberCreate")) return nullptr;
        int64_t v = 0;
        switch (type) {
            case kCFNumberSInt8Type: v = *static_cast<const int8_t*>(value); break;
            case 2: v = *static_cast<const int16_t*>(value); break;  // kCFNumberSInt16Type
            case kCFNumberSInt32Type: v = *static_cast<const int32_t*>(value); break;
            case 4: v = *static_cast<const int64_t*>(value); break;  // kCFNumberSInt64Type
            case kCFNumberLongType: v = *static_cast<const long*>(value); break;
            case kCFNumberLongLongType: v = *static_cast<const long long*>(value); break;
            default: return nullptr;  // floating-point and other types are not modelled
        }
        return Register(new Number(v));
    });
}

CFIndex APPLE_CALL CFStringGetLength(CFStringRef string) {
    return Guarded<CFIndex>(0, [&]() -> CFIndex {
        const String* s = As<String>(string, Kind::String);
        if (!s || Fault("CFStringGetLength")) return 0;
        return static_cast<CFIndex>(s->utf16Length);
    });
}

// Copies the text and its NUL when both fit in size bytes; otherwise returns false and leaves
// the buffer untouched.
uint8_t APPLE_CALL CFStringGetCString(CFStringRef string, char* buffer, CFIndex size, CFStringEncoding encoding) {
    return Guarded<uint8_t>(0, [&]() -> uint8_t {
        const String* s = As<String>(string, Kind::String);
        if (!s || !buffer || size <= 0 || Fault("CFStringGetCString")) return 0;
        if (encoding != kCFStringEncodingUTF8) {
            if (encoding != 0x0600) return 0;  // kCFStringEncodingASCII
            for (char c : s->utf8)
                if (static_cast<unsigned char>(c) >= 0x80) return 0;
        }
        if (s->utf8.size() >= static_cast<size_t>(size)) return 0;
        std::memcpy(buffer, s->utf8.data(), s->utf8.size());
        buffer[s->utf8.size()] = '\0';
        return 1;
    });
}

// Invalid UTF-8 gives none, like the real one.
CFStringRef APPLE_CALL CFStringCreateWithCString(CFAllocatorRef, const char* text, CFStringEncoding encoding) {
    if (!text) return nullptr;
    return Guarded<CFStringRef>(nullptr, [&]() -> CFStringRef {
        if (Fault("CFStringCreateWithCString", text)) return nullptr;
        std::string_view view(text);
        if (encoding == 0x0600) {
            for (char c : view)
                if (static_cast<unsigned char>(c) >= 0x80) return nullptr;
        } else if (encoding != kCFStringEncodingUTF8 || !IsValidUtf8(view)) {
            return nullptr;
        }
        return Register(new String(std::string(view)));
    });
}

CFMutableDictionaryRef APPLE_CALL CFDictionaryCreateMutable(CFAllocatorRef, CFIndex,
                                                            const CFDictionaryKeyCallBacks* keyCallBacks,
                                                            const CFDictionaryValueCallBacks* valueCallBacks) {
    return Guarded<CFMutableDictionaryRef>(nullptr, [&]() -> CFMutableDictionaryRef {
        if (Fault("CFDictionaryCreateMutable")) return nullptr;
        auto* d = new Dictionary;
        d->keyCallbacks = FromKeyTable(keyCallBacks);
        d->valueCallbacks = FromValueTable(valueCallBacks);
        return Register(d);
    });
}

namespace {
// Adds or replaces a pair; the key is found with the key table's equal callback (identity
// without one).
void PutPair(void* dict, const void* key, const void* value, bool replace) {
    Dictionary* d = As<Dictionary>(dict, Kind::Dictionary);
    if (!d) return;
    std::lock_guard lock(d->mutex);
    for (auto& pair : d->pairs) {
        const bool same = d->keyCallbacks.equal ? d->keyCallbacks.equal(pair.first, key) != 0 : pair.first == key;
        if (!same) continue;
        if (replace) {
            const void* old = pair.second;
            pair.second = d->valueCallbacks.Retain(value);
            d->valueCallbacks.Release(old);
        }
        return;
    }
    d->pairs.emplace_back(d->keyCallbacks.Retain(key), d->valueCallbacks.Retain(value));
}
}  // namespace

void APPLE_CALL CFDictionaryAddValue(CFMutableDictionaryRef dict, const void* key, const void* value) {
    GuardedVoid([&] { PutPair(dict, key, value, false); });
}

void APPLE_CALL CFDictionarySetValue(CFMutableDictionaryRef dict, const void* key, const void* value) {
    GuardedVoid([&] { PutPair(dict, key, value, true); });
}

// callBacks, when given, has the layout of CFArrayCallBacks (the same as the value table).
CFMutableArrayRef APPLE_CALL CFArrayCreateMutable(CFAllocatorRef, CFIndex, const void* callBacks) {
    return Guarded<CFMutableArrayRef>(nullptr, [&]() -> CFMutableArrayRef {
        if (Fault("CFArrayCreateMutable")) return nullptr;
        auto* a = new Array;
        a->callbacks = FromValueTable(static_cast<const CFDictionaryValueCallBacks*>(callBacks));
        return Register(a);
    });
}

void APPLE_CALL CFArrayAppendValue(CFMutableArrayRef array, const void* value) {
    GuardedVoid([&] {
        Array* a = As<Array>(array, Kind::Array);
        if (!a) return;
        std::lock_guard lock(a->mutex);
        a->items.push_back(a->callbacks.Retain(value));
    });
}

CFDataRef APPLE_CALL CFPropertyListCreateData(CFAllocatorRef, CFTypeRef root, CFPropertyListFormat format,
                                              CFOptionFlags, void** error) {
    if (error) *error = nullptr;
    return Guarded<CFDataRef>(nullptr, [&]() -> CFDataRef {
        if (format != kCFPropertyListBinaryFormat_v1_0 || Fault("CFPropertyListCreateData")) return nullptr;
        auto tree = ToPlist(root, 0);
        if (!tree) return nullptr;
        return Register(new Data(plist::WriteBinary(*tree)));
    });
}

const uint8_t* APPLE_CALL CFDataGetBytePtr(CFDataRef data) {
    return Guarded<const uint8_t*>(nullptr, [&]() -> const uint8_t* {
        const Data* d = As<Data>(data, Kind::Data);
        if (!d || Fault("CFDataGetBytePtr")) return nullptr;
        static const uint8_t kEmpty = 0;
        return d->bytes.empty() ? &kEmpty : d->bytes.data();
    });
}

CFIndex APPLE_CALL CFDataGetLength(CFDataRef data) {
    return Guarded<CFIndex>(0, [&]() -> CFIndex {
        const Data* d = As<Data>(data, Kind::Data);
        if (!d || Fault("CFDataGetLength")) return 0;
        return static_cast<CFIndex>(d->bytes.size());
    });
}

int64_t PhoneSimLiveCfObjects(void) { return Reg().counted.load(); }

size_t PhoneSimCFDescribe(CFTypeRef object, char* buffer, size_t size) {
    return Guarded<size_t>(0, [&]() -> size_t {
        auto tree = ToPlist(object, 0);
        const std::string text = tree ? plist::ToJson(*tree) : std::string("null");
        if (buffer && size > 0) {
            const size_t n = std::min(text.size(), size - 1);
            std::memcpy(buffer, text.data(), n);
            buffer[n] = '\0';
        }
        return text.size();
    });
}

}  // extern "C"

// Every definition has exactly the declared type of the program's tables.
#define PHONESIM_CHECK(ret, name, args) static_assert(std::is_same_v<decltype(&::name), name##_fn>, #name);
CHIMEBOX_COREFOUNDATION_ENTRIES(PHONESIM_CHECK)
#undef PHONESIM_CHECK
#define PHONESIM_CHECK_DATA(type, name) static_assert(std::is_same_v<decltype(::name), const type>, #name);
CHIMEBOX_COREFOUNDATION_DATA(PHONESIM_CHECK_DATA)
#undef PHONESIM_CHECK_DATA

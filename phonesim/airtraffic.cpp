// AirTraffic stand-in. A connection belongs to the phone whose udid it was made for. With
// phones/<udid>/ath-script the phone "sends" the names listed there, one per ReadMessage;
// without it the phone answers the program's calls as a real one would, applying the Sync
// documents to library.json on the way.
#include <cstring>
#include <deque>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <type_traits>
#include <vector>
#include <unordered_map>

#include "phonesim/common.h"
#include "phonesim/library.h"
#include "phonesim/phonesim_api.h"

namespace {

using namespace phonesim;

constexpr AppleResult kErrBadArgument = 1;
constexpr AppleResult kErrFault = 2;
constexpr AppleResult kErrDestroyed = 3;

struct Message {
    std::string name;
};

struct AthConnection {
    std::string udid;                  // fixed once the connection is published
    bool scripted = false;             // fixed: ath-script existed when the connection was made
    bool destroyed = false;
    size_t scriptLine = 0;             // next line of ath-script to send
    std::deque<std::string> queue;     // reactive mode: what the phone says next
    std::unique_ptr<Message> current;  // freed at the next read or at destroy
    std::mutex mutex;                  // the driver and reader threads share a connection
};

// Connections are never freed, only emptied at destroy: a second destroy (or any later call) on
// the same pointer is then recognised instead of touching freed memory.
struct Registry {
    std::mutex mutex;
    std::unordered_map<const void*, std::unique_ptr<AthConnection>> connections;
    std::unordered_map<const void*, AthConnection*> messages;  // live message -> its connection
};

Registry& Reg() {
    static Registry* r = new Registry;
    return *r;
}

AthConnection* Find(const void* connection) {
    Registry& r = Reg();
    std::lock_guard lock(r.mutex);
    auto it = r.connections.find(connection);
    return it == r.connections.end() ? nullptr : it->second.get();
}

// The reactive phone's answer to a call that reached it.
void Answer(AthConnection& c, const char* name) {
    std::lock_guard lock(c.mutex);
    if (!c.destroyed && !c.scripted) c.queue.emplace_back(name);
}

// The connection when a send on it succeeded and the phone reacts to it; else none.
AthConnection* Reacting(ATHostConnectionRef connection, AppleResult sent) {
    AthConnection* c = sent == 0 ? Find(connection) : nullptr;
    if (!c) return nullptr;
    std::lock_guard lock(c->mutex);
    return c->destroyed || c->scripted ? nullptr : c;
}

std::vector<std::string> ScriptLines(const std::string& script) {
    std::vector<std::string> lines;
    for (size_t pos = 0; pos < script.size();) {
        size_t end = script.find('\n', pos);
        if (end == std::string::npos) end = script.size();
        std::string line = script.substr(pos, end - pos);
        if (!line.empty() && line.back() == '\r') line.pop_back();
        if (!line.empty()) lines.push_back(std::move(line));
        pos = end + 1;
    }
    return lines;
}

// The next name the phone sends, if any. Called with the connection locked.
std::optional<std::string> NextName(AthConnection& c) {
    if (!c.scripted) {
        if (c.queue.empty()) return std::nullopt;
        std::string name = std::move(c.queue.front());
        c.queue.pop_front();
        return name;
    }
    auto dir = PhoneDir(c.udid);
    auto script = dir ? ReadSmallFile(*dir / "ath-script") : std::nullopt;
    if (!script) return std::nullopt;
    const std::vector<std::string> lines = ScriptLines(*script);
    if (c.scriptLine >= lines.size()) return std::nullopt;
    return lines[c.scriptLine++];
}

std::string Text(CFStringRef string) {
    if (!string) return {};
    const CFIndex units = CFStringGetLength(string);
    std::string buffer(static_cast<size_t>(units) * 3 + 1, '\0');
    if (!CFStringGetCString(string, buffer.data(), static_cast<CFIndex>(buffer.size()), kCFStringEncodingUTF8))
        return {};
    buffer.resize(std::strlen(buffer.c_str()));
    return buffer;
}

std::string Describe(CFTypeRef object) {
    const size_t n = PhoneSimCFDescribe(object, nullptr, 0);
    std::string text(n + 1, '\0');
    PhoneSimCFDescribe(object, text.data(), text.size());
    text.resize(n);
    return text;
}

// Logs a send call and gives its result: fault rules apply, a destroyed connection fails.
AppleResult Send(ATHostConnectionRef connection, std::initializer_list<std::string_view> fields) {
    AthConnection* c = Find(connection);
    if (!c) return kErrBadArgument;
    std::string udid;
    bool destroyed;
    {
        std::lock_guard lock(c->mutex);
        udid = c->udid;
        destroyed = c->destroyed;
    }
    if (destroyed) {  // use after destroy: the program's bug, made visible
        LogCall(udid, {*fields.begin(), "destroyed"});
        return kErrDestroyed;
    }
    LogCall(udid, fields);
    return PhoneFault(udid, *fields.begin()) ? kErrFault : 0;
}

}  // namespace

extern "C" {

ATHostConnectionRef APPLE_CALL ATHostConnectionCreateWithLibrary(CFStringRef libraryId, CFStringRef deviceId,
                                                                 uint32_t) {
    return Guarded<ATHostConnectionRef>(nullptr, [&]() -> ATHostConnectionRef {
        const std::string library = Text(libraryId);
        const std::string udid = Text(deviceId);
        LogCall(udid, {"ATHostConnectionCreateWithLibrary", library, udid});
        auto dir = PhoneDir(udid);
        if (!dir || !FileExists(*dir / "attached")) return nullptr;
        if (PhoneFault(udid, "ATHostConnectionCreateWithLibrary", library)) return nullptr;
        auto c = std::make_unique<AthConnection>();
        c->udid = udid;
        c->scripted = FileExists(*dir / "ath-script");
        if (!c->scripted) c->queue.emplace_back("SyncAllowed");  // the phone speaks first
        AthConnection* raw = c.get();
        Registry& r = Reg();
        std::lock_guard lock(r.mutex);
        r.connections[raw] = std::move(c);
        return raw;
    });
}

AppleResult APPLE_CALL ATHostConnectionSendPowerAssertion(ATHostConnectionRef connection, CFBooleanRef enable) {
    return Guarded<AppleResult>(kErrBadArgument, [&]() -> AppleResult {
        const char* value = enable == kCFBooleanTrue ? "true" : enable == kCFBooleanFalse ? "false" : "invalid";
        return Send(connection, {"ATHostConnectionSendPowerAssertion", value});
    });
}

ATMessageRef APPLE_CALL ATHostConnectionReadMessage(ATHostConnectionRef connection) {
    return Guarded<ATMessageRef>(nullptr, [&]() -> ATMessageRef {
        AthConnection* c = Find(connection);
        if (!c) return nullptr;
        std::lock_guard lock(c->mutex);
        if (c->destroyed || PhoneFault(c->udid, "ATHostConnectionReadMessage")) return nullptr;
        Registry& r = Reg();
        if (c->current) {
            std::lock_guard regLock(r.mutex);
            r.messages.erase(c->current.get());
        }
        c->current.reset();
        auto name = NextName(*c);
        if (!name) return nullptr;
        c->current = std::make_unique<Message>(Message{std::move(*name)});
        std::lock_guard regLock(r.mutex);
        r.messages[c->current.get()] = c;
        return c->current.get();
    });
}

// A new string: the caller releases it.
CFStringRef APPLE_CALL ATCFMessageGetName(ATMessageRef message) {
    return Guarded<CFStringRef>(nullptr, [&]() -> CFStringRef {
        Registry& r = Reg();
        std::string name;
        {
            std::lock_guard lock(r.mutex);
            auto it = r.messages.find(message);
            if (it == r.messages.end()) return nullptr;
            name = static_cast<const Message*>(message)->name;
        }
        return CFStringCreateWithCString(nullptr, SanitizeUtf8(name).c_str(), kCFStringEncodingUTF8);
    });
}

CFTypeRef APPLE_CALL ATCFMessageGetParam(ATMessageRef, CFStringRef) { return nullptr; }

AppleResult APPLE_CALL ATHostConnectionSendSyncRequest(ATHostConnectionRef connection, CFArrayRef dataclasses,
                                                       CFDictionaryRef anchors, CFDictionaryRef hostInfo) {
    return Guarded<AppleResult>(kErrBadArgument, [&]() -> AppleResult {
        const AppleResult sent = Send(connection, {"ATHostConnectionSendSyncRequest", Describe(dataclasses),
                                                   Describe(anchors), Describe(hostInfo)});
        if (AthConnection* c = Reacting(connection, sent)) Answer(*c, "ReadyForSync");
        return sent;
    });
}

AppleResult APPLE_CALL ATHostConnectionSendMetadataSyncFinished(ATHostConnectionRef connection,
                                                                CFDictionaryRef syncTypes, CFDictionaryRef anchors) {
    return Guarded<AppleResult>(kErrBadArgument, [&]() -> AppleResult {
        const AppleResult sent =
            Send(connection, {"ATHostConnectionSendMetadataSyncFinished", Describe(syncTypes), Describe(anchors)});
        if (AthConnection* c = Reacting(connection, sent))
            Answer(*c, library::ApplySyncDocuments(c->udid) ? "AssetManifest" : "SyncFinished");
        return sent;
    });
}

AppleResult APPLE_CALL ATHostConnectionSendFileProgress(ATHostConnectionRef connection, CFStringRef assetId,
                                                        CFStringRef dataclass) {
    return Guarded<AppleResult>(kErrBadArgument, [&]() -> AppleResult {
        return Send(connection, {"ATHostConnectionSendFileProgress", Text(assetId), Text(dataclass)});
    });
}

AppleResult APPLE_CALL ATHostConnectionSendAssetCompleted(ATHostConnectionRef connection, CFStringRef assetId,
                                                          CFStringRef dataclass, CFStringRef devicePath) {
    return Guarded<AppleResult>(kErrBadArgument, [&]() -> AppleResult {
        const std::string asset = Text(assetId), path = Text(devicePath);
        const AppleResult sent = Send(connection, {"ATHostConnectionSendAssetCompleted", asset, Text(dataclass), path});
        if (AthConnection* c = Reacting(connection, sent)) {
            library::CompleteAsset(c->udid, asset, path);
            Answer(*c, "SyncFinished");
        }
        return sent;
    });
}

// A second destroy is logged as "ATHostConnectionDestroy<TAB>double".
AppleResult APPLE_CALL ATHostConnectionDestroy(ATHostConnectionRef connection) {
    return Guarded<AppleResult>(kErrBadArgument, [&]() -> AppleResult {
        AthConnection* c = Find(connection);
        if (!c) return kErrBadArgument;
        std::lock_guard lock(c->mutex);
        if (c->destroyed) {
            LogCall(c->udid, {"ATHostConnectionDestroy", "double"});
            return kErrDestroyed;
        }
        LogCall(c->udid, {"ATHostConnectionDestroy"});
        c->destroyed = true;
        c->queue.clear();
        if (c->current) {
            Registry& r = Reg();
            std::lock_guard regLock(r.mutex);
            r.messages.erase(c->current.get());
        }
        c->current.reset();
        return PhoneFault(c->udid, "ATHostConnectionDestroy") ? kErrFault : 0;
    });
}

}  // extern "C"

#define PHONESIM_CHECK(ret, name, args) static_assert(std::is_same_v<decltype(&::name), name##_fn>, #name);
CHIMEBOX_AIRTRAFFIC_ENTRIES(PHONESIM_CHECK)
#undef PHONESIM_CHECK

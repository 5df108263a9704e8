// Device records, the event thread, sessions and services of the MobileDevice stand-in.
#include <algorithm>
#include <chrono>
#include <condition_variable>
#include <cstring>
#include <deque>
#include <map>
#include <memory>
#include <mutex>
#include <thread>
#include <type_traits>
#include <unordered_map>

#include <nlohmann/json.hpp>

#include "phonesim/mobiledevice_internal.h"

namespace phonesim::md {
namespace {

struct DeviceEntry {
    DeviceRecord record{};
    DeviceState state;
};

// Process-wide device bookkeeping. Records are never freed: the program may hold one past its
// detach, and calls on it must fail cleanly rather than touch freed memory.
struct Devices {
    std::mutex mutex;
    std::deque<DeviceEntry> entries;  // stable addresses
    std::unordered_map<const void*, DeviceState*> byRecord;
    uint32_t nextConnectionNumber = 1;
    std::map<AMServiceConnection, Service> services;
    AMServiceConnection nextService = 1;
};

Devices& Dev() {
    static Devices* devices = new Devices;  // left alive at exit: the event thread may still run
    return *devices;
}

DeviceEntry& NewRecord(const std::string& udid) {
    Devices& d = Dev();
    std::lock_guard lock(d.mutex);
    DeviceEntry& e = d.entries.emplace_back();
    std::memcpy(e.record.tag, "phonesim-device", 16);
    e.record.connectionNumber = d.nextConnectionNumber++;
    e.record.state = &e.state;
    e.state.udid = udid;
    d.byRecord[&e.record] = &e.state;
    return e;
}

// ---- The event thread ----

struct Subscriber {
    uintptr_t id;
    AMDeviceEventFunction callback;
    bool announced;  // has been told of the phones attached before it subscribed
};

struct Known {
    DeviceEntry* entry;
    std::string content;  // of the `attached` file
};

struct Watcher {
    std::mutex mutex;
    std::condition_variable wake;
    std::vector<Subscriber> subscribers;
    uintptr_t nextId = 1;
    std::thread thread;
    uint64_t generation = 0;  // bumped by a reset: a thread of an older generation ends
    std::map<std::string, Known> known;  // udid order: the order of announcements
};

Watcher& W() {
    static Watcher* watcher = new Watcher;
    return *watcher;
}

// What stats tell of a file or folder: enough to notice a change without reading it.
struct Stamp {
    bool present = false;
    fs::file_time_type time{};
    uintmax_t size = 0;
    bool operator==(const Stamp&) const = default;
};

Stamp StampOf(const fs::path& path) {
    std::error_code ec;
    Stamp stamp;
    stamp.time = fs::last_write_time(path, ec);
    if (ec) return {};
    stamp.present = true;
    if (!fs::is_directory(path, ec)) stamp.size = fs::file_size(path, ec);
    return stamp;
}

// A file time can be as coarse as a clock tick, so two writes within one tick may leave the
// stamp as it was: whatever changed in the last second is read again regardless.
bool Recent(const Stamp& stamp) {
    return !stamp.present || fs::file_time_type::clock::now() - stamp.time < std::chrono::seconds(1);
}

// The event thread's view of phones/<udid>/attached. While nothing changes a pass costs a few
// stats, where reading everything again would cost a listing and an open and read per phone,
// fifty times a second.
class DiskView {
public:
    // udid -> contents of phones/<udid>/attached, for every phone that has one.
    std::map<std::string, std::string> Attached() {
        std::map<std::string, std::string> found;
        const auto root = SimRoot();
        if (!root) return found;
        const fs::path folder = *root / "phones";
        if (folder != folder_) {  // another simulated world: nothing known of it yet
            folder_ = folder;
            folderStamp_ = {};
            phones_.clear();
        }
        const Stamp stamp = StampOf(folder);
        if (stamp != folderStamp_ || Recent(stamp)) List(stamp);
        for (auto& [udid, phone] : phones_) {
            const Stamp fileStamp = StampOf(phone.file);
            if (!fileStamp.present) phone.content.reset();
            else if (fileStamp != phone.stamp || Recent(fileStamp) || !phone.content)
                phone.content = ReadSmallFile(phone.file, 64 * 1024);
            phone.stamp = fileStamp;
            if (phone.content) found[udid] = *phone.content;
        }
        return found;
    }

private:
    struct Phone {
        fs::path file;
        Stamp stamp;
        std::optional<std::string> content;
    };

    void List(const Stamp& stamp) {
        folderStamp_ = stamp;
        std::map<std::string, Phone> listed;
        std::error_code ec;
        for (fs::directory_iterator it(folder_, ec), end; !ec && it != end; it.increment(ec)) {
            const std::string udid = PathToUtf8(it->path().filename());
            if (!IsPlainName(udid)) continue;
            auto known = phones_.find(udid);
            listed[udid] = known == phones_.end() ? Phone{it->path() / "attached", {}, {}} : known->second;
        }
        phones_ = std::move(listed);
    }

    fs::path folder_;
    Stamp folderStamp_;
    std::map<std::string, Phone> phones_;
};

struct Event {
    DeviceRecord* record;
    uint32_t kind;
};

// Compares the disk with the known state; returns the changes in udid order.
std::vector<Event> Diff(Watcher& w, DiskView& view) {
    const auto attached = view.Attached();
    std::vector<Event> events;
    std::lock_guard lock(w.mutex);
    for (auto it = w.known.begin(); it != w.known.end();) {
        if (attached.count(it->first)) {
            ++it;
            continue;
        }
        DeviceEntry* e = it->second.entry;
        e->state.live = false;
        e->state.session = false;
        e->state.connected = false;
        events.push_back({&e->record, AMDeviceEventDetached});
        it = w.known.erase(it);
    }
    for (const auto& [udid, content] : attached) {
        auto it = w.known.find(udid);
        if (it == w.known.end()) {
            DeviceEntry& e = NewRecord(udid);
            w.known.emplace(udid, Known{&e, content});
            if (auto dir = PhoneDir(udid))
                WriteFileAtomically(*dir / "connection", std::to_string(e.record.connectionNumber) + "\n");
            events.push_back({&e.record, AMDeviceEventAttached});
        } else if (it->second.content != content) {
            it->second.content = content;  // the same phone reported attached again
            events.push_back({&it->second.entry->record, AMDeviceEventAttached});
        }
    }
    std::sort(events.begin(), events.end(), [](const Event& a, const Event& b) {
        return a.record->state->udid < b.record->state->udid;
    });
    return events;
}

void Deliver(AMDeviceEventFunction callback, const Event& e) {
    AMDeviceEvent event{};
    event.device = e.record;
    event.kind = e.kind;
    callback(&event);  // may block: later events wait
}

void Pass(Watcher& w, DiskView& view) {
    MaybeDumpCounters();
    const std::vector<Event> events = Diff(w, view);
    std::vector<Subscriber> subscribers;
    std::vector<Event> current;
    {
        std::lock_guard lock(w.mutex);
        subscribers = w.subscribers;
        for (auto& [udid, k] : w.known) current.push_back({&k.entry->record, AMDeviceEventAttached});
        for (auto& s : w.subscribers) s.announced = true;
    }
    for (const Subscriber& s : subscribers) {
        for (const Event& e : s.announced ? events : current) Deliver(s.callback, e);
    }
}

void Loop(uint64_t generation) {
    Watcher& w = W();
    const auto ended = [&] { return w.generation != generation; };
    DiskView view;  // each thread, a reset's new one too, starts from what it finds on disk
    for (;;) {
        {
            std::lock_guard lock(w.mutex);
            if (ended()) return;
        }
        GuardedVoid([&] { Pass(w, view); });
        std::unique_lock lock(w.mutex);
        if (w.wake.wait_for(lock, std::chrono::milliseconds(20), ended)) return;
    }
}

// A call on a device: its state when the reference is ours, and the log line written.
DeviceState* Begin(AMDeviceRef device, std::initializer_list<std::string_view> log) {
    MaybeDumpCounters();
    DeviceState* s = FindDevice(device);
    if (s) LogCall(s->udid, log);
    return s;
}

// UTF-8 text of a CF string; none for anything else.
std::optional<std::string> Text(CFStringRef string) {
    if (!string) return std::nullopt;
    const CFIndex units = CFStringGetLength(string);
    std::string buffer(static_cast<size_t>(units) * 3 + 1, '\0');
    if (!CFStringGetCString(string, buffer.data(), static_cast<CFIndex>(buffer.size()), kCFStringEncodingUTF8))
        return std::nullopt;
    buffer.resize(std::strlen(buffer.c_str()));
    return buffer;
}

CFStringRef MakeString(const std::string& text) {
    return CFStringCreateWithCString(nullptr, SanitizeUtf8(text).c_str(), kCFStringEncodingUTF8);
}

bool PhoneFile(const DeviceState& s, const char* name) {
    auto dir = PhoneDir(s.udid);
    return dir && FileExists(*dir / name);
}

AMServiceConnection StartOn(DeviceState& s, std::vector<std::string> root, AMServiceConnection* out) {
    const AMServiceConnection id = AddService(Service{&s, std::move(root)});
    *out = id;
    return id;
}

}  // namespace

DeviceState* FindDevice(AMDeviceRef device) {
    if (!device) return nullptr;
    Devices& d = Dev();
    std::lock_guard lock(d.mutex);
    auto it = d.byRecord.find(device);
    return it == d.byRecord.end() ? nullptr : it->second;
}

bool IsAttached(const DeviceState& device) { return device.live && PhoneFile(device, "attached"); }

AMServiceConnection AddService(Service service) {
    Devices& d = Dev();
    std::lock_guard lock(d.mutex);
    const AMServiceConnection id = d.nextService++;
    d.services[id] = std::move(service);
    return id;
}

std::optional<Service> FindService(AMServiceConnection id) {
    Devices& d = Dev();
    std::lock_guard lock(d.mutex);
    auto it = d.services.find(id);
    if (it == d.services.end()) return std::nullopt;
    return it->second;
}

void MaybeDumpCounters() {
    GuardedVoid([] {
        auto root = SimRoot();
        if (!root || !FileExists(*root / "dump-counters")) return;
        static std::mutex dumping;
        std::lock_guard lock(dumping);
        PhoneSimCounters c{};
        PhoneSimGetCounters(&c);
        const nlohmann::json j = {{"cf_objects", c.cf_objects},       {"afc_connections", c.afc_connections},
                                  {"afc_files", c.afc_files},         {"afc_dirs", c.afc_dirs},
                                  {"afc_infos", c.afc_infos}};
        if (WriteFileAtomically(*root / "counters.json", j.dump() + "\n")) {
            std::error_code ec;
            fs::remove(*root / "dump-counters", ec);
        }
    });
}

}  // namespace phonesim::md

using namespace phonesim;
using namespace phonesim::md;

extern "C" {

CFStringRef APPLE_CALL AMDeviceCopyDeviceIdentifier(AMDeviceRef device) {
    return Guarded<CFStringRef>(nullptr, [&]() -> CFStringRef {
        DeviceState* s = Begin(device, {"AMDeviceCopyDeviceIdentifier"});
        if (!s || PhoneFault(s->udid, "AMDeviceCopyDeviceIdentifier")) return nullptr;
        return MakeString(s->udid);
    });
}

AppleResult APPLE_CALL AMDeviceNotificationSubscribe(AMDeviceEventFunction callback, uint32_t, uint32_t, void*,
                                                     void** subscription) {
    return Guarded<AppleResult>(kErrUndefined, [&]() -> AppleResult {
        if (!callback) return kErrBadArgument;
        if (RootFault("AMDeviceNotificationSubscribe")) return kErrFault;
        Watcher& w = W();
        std::lock_guard lock(w.mutex);
        const uintptr_t id = w.nextId++;
        w.subscribers.push_back(Subscriber{id, callback, false});
        if (subscription) *subscription = reinterpret_cast<void*>(id);
        if (!w.thread.joinable()) w.thread = std::thread(Loop, w.generation);
        return 0;
    });
}

AppleResult APPLE_CALL AMDeviceNotificationUnsubscribe(void* subscription) {
    return Guarded<AppleResult>(kErrUndefined, [&]() -> AppleResult {
        Watcher& w = W();
        std::lock_guard lock(w.mutex);
        const auto id = reinterpret_cast<uintptr_t>(subscription);
        const auto before = w.subscribers.size();
        std::erase_if(w.subscribers, [&](const Subscriber& s) { return s.id == id; });
        return w.subscribers.size() < before ? 0 : kErrBadArgument;
    });
}

AppleResult APPLE_CALL AMDeviceConnect(AMDeviceRef device) {
    return Guarded<AppleResult>(kErrUndefined, [&]() -> AppleResult {
        DeviceState* s = Begin(device, {"AMDeviceConnect"});
        if (!s) return kErrBadArgument;
        if (PhoneFault(s->udid, "AMDeviceConnect")) return kErrFault;
        if (!IsAttached(*s)) return kErrNotConnected;
        s->connected = true;
        return 0;
    });
}

AppleResult APPLE_CALL AMDeviceIsPaired(AMDeviceRef device) {
    return Guarded<AppleResult>(0, [&]() -> AppleResult {
        DeviceState* s = Begin(device, {"AMDeviceIsPaired"});
        if (!s || PhoneFault(s->udid, "AMDeviceIsPaired")) return 0;
        return s->live && PhoneFile(*s, "paired") ? 1 : 0;
    });
}

AppleResult APPLE_CALL AMDeviceValidatePairing(AMDeviceRef device) {
    return Guarded<AppleResult>(kErrUndefined, [&]() -> AppleResult {
        DeviceState* s = Begin(device, {"AMDeviceValidatePairing"});
        if (!s) return kErrBadArgument;
        if (PhoneFault(s->udid, "AMDeviceValidatePairing")) return kErrFault;
        return s->live && PhoneFile(*s, "paired") ? 0 : kErrUndefined;
    });
}

AppleResult APPLE_CALL AMDeviceStartSession(AMDeviceRef device) {
    return Guarded<AppleResult>(kErrUndefined, [&]() -> AppleResult {
        DeviceState* s = Begin(device, {"AMDeviceStartSession"});
        if (!s) return kErrBadArgument;
        if (PhoneFault(s->udid, "AMDeviceStartSession")) return kErrFault;
        if (!s->connected || !IsAttached(*s)) return kErrNotConnected;
        if (!PhoneFile(*s, "paired")) return kErrUndefined;
        s->session = true;
        return 0;
    });
}

// Stop and disconnect always do their work; a fault only changes the result.
AppleResult APPLE_CALL AMDeviceStopSession(AMDeviceRef device) {
    return Guarded<AppleResult>(kErrUndefined, [&]() -> AppleResult {
        DeviceState* s = Begin(device, {"AMDeviceStopSession"});
        if (!s) return kErrBadArgument;
        s->session = false;
        return PhoneFault(s->udid, "AMDeviceStopSession") ? kErrFault : 0;
    });
}

AppleResult APPLE_CALL AMDeviceDisconnect(AMDeviceRef device) {
    return Guarded<AppleResult>(kErrUndefined, [&]() -> AppleResult {
        DeviceState* s = Begin(device, {"AMDeviceDisconnect"});
        if (!s) return kErrBadArgument;
        s->session = false;
        s->connected = false;
        return PhoneFault(s->udid, "AMDeviceDisconnect") ? kErrFault : 0;
    });
}

AppleResult APPLE_CALL AMDeviceStartService(AMDeviceRef device, CFStringRef service, AMServiceConnection* connection,
                                            void*) {
    return Guarded<AppleResult>(kErrUndefined, [&]() -> AppleResult {
        const std::string name = Text(service).value_or("");
        DeviceState* s = Begin(device, {"AMDeviceStartService", name});
        if (!s || !connection || !service) return kErrBadArgument;
        if (PhoneFault(s->udid, "AMDeviceStartService", name)) return kErrFault;
        if (!s->session || !IsAttached(*s)) return kErrNoSession;
        if (name != "com.apple.afc") return kErrInvalidService;
        StartOn(*s, {"media"}, connection);
        return 0;
    });
}

AppleResult APPLE_CALL AMDeviceStartHouseArrestService(AMDeviceRef device, CFStringRef bundleId, void*,
                                                       AMServiceConnection* connection, void*) {
    return Guarded<AppleResult>(kErrUndefined, [&]() -> AppleResult {
        const std::string bundle = Text(bundleId).value_or("");
        DeviceState* s = Begin(device, {"AMDeviceStartHouseArrestService", bundle});
        if (!s || !connection || !bundleId) return kErrBadArgument;
        if (PhoneFault(s->udid, "AMDeviceStartHouseArrestService", bundle)) return kErrFault;
        if (!s->session || !IsAttached(*s)) return kErrNoSession;
        auto dir = PhoneDir(s->udid);
        if (!IsPlainName(bundle) || !dir || !IsDirectory(*dir / "apps" / PathFromUtf8(bundle)))
            return kErrInvalidService;  // the app is not installed
        StartOn(*s, {"apps", bundle}, connection);
        return 0;
    });
}

CFTypeRef APPLE_CALL AMDeviceCopyValue(AMDeviceRef device, CFStringRef domain, CFStringRef key) {
    return Guarded<CFTypeRef>(nullptr, [&]() -> CFTypeRef {
        const std::string name = Text(key).value_or("");
        DeviceState* s = Begin(device, {"AMDeviceCopyValue", name});
        if (!s || domain || PhoneFault(s->udid, "AMDeviceCopyValue", name)) return nullptr;
        if (name != "DeviceName" || !IsAttached(*s)) return nullptr;
        auto dir = PhoneDir(s->udid);
        auto text = dir ? ReadSmallFile(*dir / "name", 64 * 1024) : std::nullopt;
        if (!text) return nullptr;
        if (!text->empty() && text->back() == '\n') text->pop_back();
        if (!text->empty() && text->back() == '\r') text->pop_back();
        return MakeString(*text);
    });
}

// Bound by the program but never called: they exist with their contract's failure results.
AppleResult APPLE_CALL AMDevicePair(AMDeviceRef device) {
    return Guarded<AppleResult>(kErrUndefined, [&]() -> AppleResult {
        Begin(device, {"AMDevicePair"});
        return kErrUndefined;  // pairing happens on the phone's side: create `paired`
    });
}

AppleResult APPLE_CALL AMDeviceLookupApplications(AMDeviceRef device, CFDictionaryRef, CFDictionaryRef*) {
    return Guarded<AppleResult>(kErrUndefined, [&]() -> AppleResult {
        Begin(device, {"AMDeviceLookupApplications"});
        return kErrUndefined;
    });
}

AppleResult APPLE_CALL AMDeviceSecureStartService(AMDeviceRef device, CFStringRef, CFDictionaryRef, void**) {
    return Guarded<AppleResult>(kErrUndefined, [&]() -> AppleResult {
        Begin(device, {"AMDeviceSecureStartService"});
        return kErrUndefined;
    });
}

int32_t APPLE_CALL AMDServiceConnectionGetSocket(void*) { return -1; }
void* APPLE_CALL AMDServiceConnectionGetSecureIOContext(void*) { return nullptr; }

void PhoneSimGetCounters(PhoneSimCounters* counters) {
    if (!counters) return;
    GuardedVoid([&] {
        *counters = PhoneSimCounters{};
        counters->cf_objects = PhoneSimLiveCfObjects();
        CountAfc(*counters);
    });
}

void PhoneSimReset(void) {
    GuardedVoid([] {
        Watcher& w = W();
        std::thread thread;
        {
            std::lock_guard lock(w.mutex);
            ++w.generation;
            thread = std::move(w.thread);
        }
        w.wake.notify_all();
        if (thread.joinable()) {
            if (thread.get_id() == std::this_thread::get_id())
                thread.detach();
            else
                thread.join();
        }
        std::lock_guard lock(w.mutex);
        w.subscribers.clear();
        for (auto& [udid, k] : w.known) {
            k.entry->state.live = false;
            k.entry->state.session = false;
            k.entry->state.connected = false;
        }
        w.known.clear();
        {
            Devices& d = Dev();
            std::lock_guard devLock(d.mutex);
            d.services.clear();
        }
        ResetAfc();
    });
}

}  // extern "C"

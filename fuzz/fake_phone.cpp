#include "fuzz/fake_phone.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <memory>
#include <set>

#include "device/apple_bindings.h"
#include "device/device_session.h"
#include "device/sync_state.h"
#include "phonesim/phonesim_api.h"

namespace fuzzphone {
namespace {

constexpr AMServiceConnection CONTAINER_SERVICE = 7;
constexpr AMServiceConnection MEDIA_SERVICE = 9;

FakePhone phone;

struct Connection {
    FakePartition* partition;
};
struct Directory {
    std::vector<std::string> names;
    size_t next = 0;
    std::string current;  // the name handed out last, valid until the next read or the close
};
struct Info {
    std::vector<std::pair<std::string, std::string>> pairs;
    size_t next = 0;
    std::string key, value;
};
struct OpenFile {
    FakePartition* partition;
    std::string path;
    bool writing;
    size_t position = 0;
};

std::set<Connection*> connections;
std::set<Directory*> directories;
std::set<Info*> infos;
std::map<AFCFileRef, OpenFile> files;
AFCFileRef nextFile = 1;

// A device record: the connection number is the word at byte offset 16.
alignas(8) unsigned char deviceRecord[32] = {};

FakePartition* PartitionOf(AFCConnectionRef connection) {
    auto* c = static_cast<Connection*>(connection);
    Require(connections.count(c) == 1, "AFC call on a connection that is not open");
    return c->partition;
}

void NotePath(FakePartition* partition, const char* path) {
    Require(path != nullptr, "AFC call without a path");
    partition->longestPath = std::max(partition->longestPath, std::strlen(path));
}

AppleResult APPLE_CALL Connect(AMDeviceRef) { return 0; }
AppleResult APPLE_CALL IsPaired(AMDeviceRef) { return 1; }
AppleResult APPLE_CALL Succeed(AMDeviceRef) { return 0; }
CFStringRef APPLE_CALL CopyIdentifier(AMDeviceRef) { return nullptr; }
CFTypeRef APPLE_CALL CopyValue(AMDeviceRef, CFStringRef, CFStringRef) { return nullptr; }
AppleResult APPLE_CALL Subscribe(AMDeviceEventFunction, uint32_t, uint32_t, void*, void**) { return 1; }

AppleResult APPLE_CALL StartService(AMDeviceRef, CFStringRef, AMServiceConnection* out, void*) {
    if (!phone.reachable) return 1;
    *out = MEDIA_SERVICE;
    return 0;
}
AppleResult APPLE_CALL StartHouseArrest(AMDeviceRef, CFStringRef, void*, AMServiceConnection* out, void*) {
    if (!phone.reachable) return 1;
    *out = CONTAINER_SERVICE;
    return 0;
}

AppleResult APPLE_CALL ConnectionOpen(AMServiceConnection service, uint32_t, AFCConnectionRef* out) {
    if (service != CONTAINER_SERVICE && service != MEDIA_SERVICE) return 1;
    auto* c = new Connection{service == CONTAINER_SERVICE ? &phone.container : &phone.media};
    connections.insert(c);
    *out = c;
    return 0;
}
AppleResult APPLE_CALL ConnectionClose(AFCConnectionRef connection) {
    auto* c = static_cast<Connection*>(connection);
    Require(connections.erase(c) == 1, "AFCConnectionClose on a connection that is not open");
    delete c;
    return 0;
}

AppleResult APPLE_CALL DirectoryOpen(AFCConnectionRef connection, const char* path, AFCDirectoryRef* out) {
    FakePartition* p = PartitionOf(connection);
    NotePath(p, path);
    auto it = p->dirs.find(path);
    if (it == p->dirs.end()) return 8;
    auto* d = new Directory;
    d->names = {".", ".."};
    d->names.insert(d->names.end(), it->second.begin(), it->second.end());
    directories.insert(d);
    *out = d;
    return 0;
}
AppleResult APPLE_CALL DirectoryRead(AFCConnectionRef connection, AFCDirectoryRef dir, char** name) {
    PartitionOf(connection);
    auto* d = static_cast<Directory*>(dir);
    Require(directories.count(d) == 1, "AFCDirectoryRead on a directory that is not open");
    if (d->next >= d->names.size()) {
        *name = nullptr;
        return 0;
    }
    d->current = d->names[d->next++];
    *name = d->current.data();
    return 0;
}
AppleResult APPLE_CALL DirectoryClose(AFCConnectionRef connection, AFCDirectoryRef dir) {
    PartitionOf(connection);
    auto* d = static_cast<Directory*>(dir);
    Require(directories.erase(d) == 1, "AFCDirectoryClose on a directory that is not open");
    delete d;
    return 0;
}
AppleResult APPLE_CALL DirectoryCreate(AFCConnectionRef connection, const char* path) {
    FakePartition* p = PartitionOf(connection);
    NotePath(p, path);
    p->created.emplace_back(path);
    p->dirs.emplace(path, std::vector<std::string>{});
    return 0;
}
AppleResult APPLE_CALL RemovePath(AFCConnectionRef connection, const char* path) {
    FakePartition* p = PartitionOf(connection);
    NotePath(p, path);
    p->removed.emplace_back(path);
    return p->files.erase(path) ? 0 : 8;
}

AppleResult APPLE_CALL FileOpen(AFCConnectionRef connection, const char* path, uint64_t mode, AFCFileRef* out) {
    FakePartition* p = PartitionOf(connection);
    NotePath(p, path);
    if (mode == 3) {
        p->written[path].clear();
        p->files[path] = FakeFile{};
    } else if (!p->files.count(path)) {
        return 8;
    }
    AFCFileRef ref = nextFile++;
    files.emplace(ref, OpenFile{p, path, mode == 3});
    *out = ref;
    return 0;
}
AppleResult APPLE_CALL FileRead(AFCConnectionRef connection, AFCFileRef ref, void* buffer, uint32_t* length) {
    PartitionOf(connection);
    auto it = files.find(ref);
    Require(it != files.end(), "AFCFileRefRead on a file that is not open");
    const FakeFile& file = it->second.partition->files[it->second.path];
    size_t left = file.data.size() - std::min(file.data.size(), it->second.position);
    size_t n = std::min<size_t>(*length, left);
    std::memcpy(buffer, file.data.data() + it->second.position, n);
    it->second.position += n;
    *length = static_cast<uint32_t>(n) + file.readOverclaim;
    return 0;
}
AppleResult APPLE_CALL FileWrite(AFCConnectionRef connection, AFCFileRef ref, const void* data, uint32_t length) {
    PartitionOf(connection);
    auto it = files.find(ref);
    Require(it != files.end(), "AFCFileRefWrite on a file that is not open");
    if (!it->second.writing) return 1;
    Require(length == 0 || data != nullptr, "AFCFileRefWrite without bytes");
    auto bytes = static_cast<const char*>(data);
    it->second.partition->written[it->second.path].append(bytes, length);
    it->second.partition->files[it->second.path].data.append(bytes, length);
    return 0;
}
AppleResult APPLE_CALL FileClose(AFCConnectionRef connection, AFCFileRef ref) {
    PartitionOf(connection);
    Require(files.erase(ref) == 1, "AFCFileRefClose on a file that is not open");
    return 0;
}

AppleResult APPLE_CALL InfoOpen(AFCConnectionRef connection, const char* path, AFCFileInfoRef* out) {
    FakePartition* p = PartitionOf(connection);
    NotePath(p, path);
    auto it = p->files.find(path);
    if (it == p->files.end()) return 8;
    auto* info = new Info;
    // "st_size" is not the first pair, as on a real phone.
    info->pairs = {{"st_ifmt", "S_IFREG"},
                   {"st_size", it->second.reportedSize.value_or(std::to_string(it->second.data.size()))},
                   {"st_nlink", "1"},
                   {"st_blocks", "8"}};
    infos.insert(info);
    *out = info;
    return 0;
}
AppleResult APPLE_CALL KeyValueRead(AFCFileInfoRef handle, char** key, char** value) {
    auto* info = static_cast<Info*>(handle);
    Require(infos.count(info) == 1, "AFCKeyValueRead on information that is not open");
    if (info->next >= info->pairs.size()) {
        *key = nullptr;
        *value = nullptr;
        return 0;
    }
    info->key = info->pairs[info->next].first;
    info->value = info->pairs[info->next].second;
    ++info->next;
    *key = info->key.data();
    *value = info->value.data();
    return 0;
}
AppleResult APPLE_CALL KeyValueClose(AFCFileInfoRef handle) {
    auto* info = static_cast<Info*>(handle);
    Require(infos.erase(info) == 1, "AFCKeyValueClose on information that is not open");
    delete info;
    return 0;
}

void FillMobileDevice() {
    MobileDeviceTable& t = MobileDevice;
    t.AMDeviceCopyDeviceIdentifier = CopyIdentifier;
    t.AMDeviceNotificationSubscribe = Subscribe;
    t.AMDeviceConnect = Connect;
    t.AMDeviceIsPaired = IsPaired;
    t.AMDeviceValidatePairing = Succeed;
    t.AMDeviceStartSession = Succeed;
    t.AMDeviceStartService = StartService;
    t.AMDeviceStopSession = Succeed;
    t.AMDeviceDisconnect = Succeed;
    t.AMDeviceCopyValue = CopyValue;
    t.AFCConnectionOpen = ConnectionOpen;
    t.AFCConnectionClose = ConnectionClose;
    t.AFCDirectoryOpen = DirectoryOpen;
    t.AFCDirectoryRead = DirectoryRead;
    t.AFCDirectoryClose = DirectoryClose;
    t.AFCDirectoryCreate = DirectoryCreate;
    t.AFCRemovePath = RemovePath;
    t.AFCFileRefOpen = FileOpen;
    t.AFCFileRefRead = FileRead;
    t.AFCFileRefWrite = FileWrite;
    t.AFCFileRefClose = FileClose;
    t.AFCFileInfoOpen = InfoOpen;
    t.AFCKeyValueRead = KeyValueRead;
    t.AFCKeyValueClose = KeyValueClose;
    t.AMDeviceStartHouseArrestService = StartHouseArrest;
}

// The stand-in's exports, linked directly instead of looked up in a loaded library.
void FillCoreFoundation() {
    CoreFoundationTable& t = CoreFoundation;
#define FUZZ_CF_SLOT(ret, name, args) t.name = &::name;
    CHIMEBOX_COREFOUNDATION_ENTRIES(FUZZ_CF_SLOT)
#undef FUZZ_CF_SLOT
    t.kCFBooleanFalse = ::kCFBooleanFalse;
    t.kCFBooleanTrue = ::kCFBooleanTrue;
    t.kCFTypeDictionaryKeyCallBacks = ::kCFTypeDictionaryKeyCallBacks;
    t.kCFTypeDictionaryValueCallBacks = ::kCFTypeDictionaryValueCallBacks;
}

}  // namespace

void Require(bool condition, const char* what) {
    if (condition) return;
    std::fprintf(stderr, "fuzz check failed: %s\n", what);
    std::abort();
}

void Install() {
    // The stand-in reads fault rules from $PHONESIM_ROOT; without one it never fails on purpose.
    unsetenv("PHONESIM_ROOT");
    static char dir[] = "/tmp/chimebox-fuzz-mutex-XXXXXX";
    Require(mkdtemp(dir) != nullptr, "cannot make the mutex folder");
    setenv("CHIMEBOX_MUTEX_DIR", dir, 1);
    std::atexit([] {
        std::error_code ignored;
        std::filesystem::remove_all(dir, ignored);
    });
    static platform::MutexHandle sessionMutex = platform::CreateNamedMutex(SESSION_MUTEX_NAME);
    Require(sessionMutex != nullptr, "cannot create the session mutex");
    FillMobileDevice();
    FillCoreFoundation();
    deviceRecord[16] = 1;
    syncState.device = static_cast<AMDeviceRef>(deviceRecord);
    syncState.connectionState = Connected;
}

void CheckNoOpenHandles() {
    Require(connections.empty(), "an AFC connection was left open");
    Require(directories.empty(), "an AFC directory was left open");
    Require(infos.empty(), "AFC file information was left open");
    Require(files.empty(), "an AFC file was left open");
}

FakePhone& Fresh() {
    CheckNoOpenHandles();
    phone = FakePhone{};
    return phone;
}

int64_t LiveCfObjects() { return PhoneSimLiveCfObjects(); }

}  // namespace fuzzphone

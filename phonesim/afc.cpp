// AFC of the MobileDevice stand-in: files below a service's root folder, with the semantics of a
// real phone (absolute "/" paths confined to the partition, open modes 1-3, "." and ".." listed).
#include <algorithm>
#include <chrono>
#include <map>
#include <memory>
#include <mutex>
#include <type_traits>
#include <unordered_map>

#include "phonesim/mobiledevice_internal.h"

namespace phonesim::md {
namespace {

struct Connection {
    Service service;
};

enum class LastIo { None, Read, Write };

struct File {
    std::shared_ptr<Connection> owner;
    std::string path;  // as the caller gave it: the argument for fault rules
    uint64_t mode = 0;
    FilePtr file;
    LastIo last = LastIo::None;
};

struct Dir {
    std::shared_ptr<Connection> owner;
    std::string path;
    std::vector<std::string> names;
    size_t next = 0;
    std::string current;  // the name handed out last; valid until the next read or close
};

struct Info {
    std::shared_ptr<Connection> owner;
    std::string path;
    std::vector<std::pair<std::string, std::string>> pairs;
    size_t next = 0;
};

struct Afc {
    std::mutex mutex;
    std::unordered_map<const void*, std::shared_ptr<Connection>> connections;
    std::map<AFCFileRef, std::shared_ptr<File>> files;
    std::unordered_map<const void*, std::shared_ptr<Dir>> dirs;
    std::unordered_map<const void*, std::shared_ptr<Info>> infos;
    AFCFileRef nextFile = 1;
};

Afc& A() {
    static Afc* afc = new Afc;
    return *afc;
}

template <class Map>
auto Find(Map& map, const void* key) -> typename Map::mapped_type {
    std::lock_guard lock(A().mutex);
    auto it = map.find(key);
    return it == map.end() ? nullptr : it->second;
}

std::shared_ptr<Connection> FindConnection(AFCConnectionRef c) { return Find(A().connections, c); }

const std::string& Udid(const Connection& c) { return c.service.device->udid; }

// A phone that vanished takes its partitions with it.
bool Usable(const Connection& c) { return IsAttached(*c.service.device); }

// The host path of an AFC path: absolute, "/"-separated, normalised lexically and confined to
// the connection's root ("/.." is refused rather than clamped). none for anything else.
std::optional<fs::path> Resolve(const Connection& c, const char* path, bool* isRoot = nullptr) {
    if (!path) return std::nullopt;
    const auto parts = SplitPhonePath(path);
    if (!parts) return std::nullopt;
    auto host = PhoneDir(Udid(c));
    if (!host) return std::nullopt;
    for (const std::string& r : c.service.root) *host /= PathFromUtf8(r);
    for (std::string_view part : *parts) *host /= PathFromUtf8(part);
    if (isRoot) *isRoot = parts->empty();
    return host;
}

bool Fault(const Connection& c, std::string_view name, std::optional<std::string_view> arg = std::nullopt) {
    return PhoneFault(Udid(c), name, arg);
}

std::string Opt(const char* s) { return s ? std::string(s) : std::string(); }

int64_t NanosecondsOf(fs::file_time_type t) {
    const auto sys = std::chrono::file_clock::to_sys(t);
    return std::chrono::duration_cast<std::chrono::nanoseconds>(sys.time_since_epoch()).count();
}

// The pairs of a real phone's file info, st_size deliberately not first.
std::optional<std::vector<std::pair<std::string, std::string>>> Stat(const fs::path& p) {
    std::error_code ec;
    const fs::file_status st = fs::symlink_status(p, ec);
    if (ec || !fs::exists(st)) return std::nullopt;
    const bool dir = fs::is_directory(st);
    uint64_t size = 0;
    if (fs::is_regular_file(st)) size = fs::file_size(p, ec);
    if (ec) size = 0;
    int64_t mtime = 0;
    if (auto t = fs::last_write_time(p, ec); !ec) mtime = NanosecondsOf(t);
    const char* kind = dir ? "S_IFDIR" : fs::is_symlink(st) ? "S_IFLNK" : "S_IFREG";
    return std::vector<std::pair<std::string, std::string>>{
        {"st_ifmt", kind},
        {"st_nlink", dir ? "2" : "1"},
        {"st_size", std::to_string(size)},
        {"st_blocks", std::to_string((size + 511) / 512)},
        {"st_mtime", std::to_string(mtime)},
        {"st_birthtime", std::to_string(mtime)},
    };
}

// Entry names of a folder, "." and ".." first, the rest sorted by bytes.
std::optional<std::vector<std::string>> List(const fs::path& p) {
    std::error_code ec;
    if (!fs::is_directory(p, ec)) return std::nullopt;
    std::vector<std::string> names;
    for (fs::directory_iterator it(p, ec), end; !ec && it != end; it.increment(ec))
        names.push_back(PathToUtf8(it->path().filename()));
    if (ec) return std::nullopt;
    std::sort(names.begin(), names.end());
    names.insert(names.begin(), {".", ".."});
    return names;
}

const char* FopenMode(uint64_t mode) {
    switch (mode) {
        case 1: return "rb";   // read only, must exist
        case 2: return "r+b";  // read and write, must exist
        case 3: return "wb";   // write only, created or truncated
        default: return nullptr;
    }
}

}  // namespace

void CountAfc(PhoneSimCounters& c) {
    Afc& a = A();
    std::lock_guard lock(a.mutex);
    c.afc_connections = static_cast<int64_t>(a.connections.size());
    c.afc_files = static_cast<int64_t>(a.files.size());
    c.afc_dirs = static_cast<int64_t>(a.dirs.size());
    c.afc_infos = static_cast<int64_t>(a.infos.size());
}

void ResetAfc() {
    Afc& a = A();
    std::lock_guard lock(a.mutex);
    a.files.clear();
    a.dirs.clear();
    a.infos.clear();
    a.connections.clear();
}

}  // namespace phonesim::md

using namespace phonesim;
using namespace phonesim::md;

extern "C" {

AppleResult APPLE_CALL AFCConnectionOpen(AMServiceConnection service, uint32_t, AFCConnectionRef* connection) {
    return Guarded<AppleResult>(kAfcUnknown, [&]() -> AppleResult {
        MaybeDumpCounters();
        auto s = FindService(service);
        if (!s || !connection) return kAfcBadArgument;
        if (PhoneFault(s->device->udid, "AFCConnectionOpen")) return kAfcFault;
        if (!IsAttached(*s->device)) return kAfcNotConnected;
        auto c = std::make_shared<Connection>(Connection{*s});
        Afc& a = A();
        std::lock_guard lock(a.mutex);
        a.connections[c.get()] = c;
        *connection = c.get();
        return 0;
    });
}

// Files, folders and infos still open on the connection stay counted: they are leaks.
AppleResult APPLE_CALL AFCConnectionClose(AFCConnectionRef connection) {
    return Guarded<AppleResult>(kAfcUnknown, [&]() -> AppleResult {
        MaybeDumpCounters();
        std::shared_ptr<Connection> c;
        {
            Afc& a = A();
            std::lock_guard lock(a.mutex);
            auto it = a.connections.find(connection);
            if (it == a.connections.end()) return kAfcBadArgument;
            c = it->second;
            a.connections.erase(it);
        }
        return Fault(*c, "AFCConnectionClose") ? kAfcFault : 0;
    });
}

AppleResult APPLE_CALL AFCDirectoryOpen(AFCConnectionRef connection, const char* path, AFCDirectoryRef* dir) {
    return Guarded<AppleResult>(kAfcUnknown, [&]() -> AppleResult {
        MaybeDumpCounters();
        auto c = FindConnection(connection);
        if (!c || !dir) return kAfcBadArgument;
        if (Fault(*c, "AFCDirectoryOpen", Opt(path))) return kAfcFault;
        if (!Usable(*c)) return kAfcNotConnected;
        auto host = Resolve(*c, path);
        if (!host) return kAfcBadArgument;
        auto names = List(*host);
        if (!names) return kAfcNotFound;
        auto d = std::make_shared<Dir>(Dir{c, path, std::move(*names), 0, {}});
        Afc& a = A();
        std::lock_guard lock(a.mutex);
        a.dirs[d.get()] = d;
        *dir = d.get();
        return 0;
    });
}

AppleResult APPLE_CALL AFCDirectoryRead(AFCConnectionRef connection, AFCDirectoryRef dir, char** name) {
    return Guarded<AppleResult>(kAfcUnknown, [&]() -> AppleResult {
        if (name) *name = nullptr;
        auto d = Find(A().dirs, dir);
        if (!d || !name || d->owner.get() != connection) return kAfcBadArgument;
        if (Fault(*d->owner, "AFCDirectoryRead", d->path)) return kAfcFault;
        if (!Usable(*d->owner)) return kAfcNotConnected;
        if (d->next >= d->names.size()) return 0;  // no more entries: name none, success
        d->current = d->names[d->next++];
        *name = d->current.data();
        return 0;
    });
}

AppleResult APPLE_CALL AFCDirectoryClose(AFCConnectionRef connection, AFCDirectoryRef dir) {
    return Guarded<AppleResult>(kAfcUnknown, [&]() -> AppleResult {
        std::shared_ptr<Dir> d;
        {
            Afc& a = A();
            std::lock_guard lock(a.mutex);
            auto it = a.dirs.find(dir);
            if (it == a.dirs.end() || it->second->owner.get() != connection) return kAfcBadArgument;
            d = it->second;
            a.dirs.erase(it);
        }
        return Fault(*d->owner, "AFCDirectoryClose", d->path) ? kAfcFault : 0;
    });
}

// Creates missing parents too; an existing folder is success.
AppleResult APPLE_CALL AFCDirectoryCreate(AFCConnectionRef connection, const char* path) {
    return Guarded<AppleResult>(kAfcUnknown, [&]() -> AppleResult {
        MaybeDumpCounters();
        auto c = FindConnection(connection);
        if (!c) return kAfcBadArgument;
        LogCall(Udid(*c), {"AFCDirectoryCreate", Opt(path)});
        if (Fault(*c, "AFCDirectoryCreate", Opt(path))) return kAfcFault;
        if (!Usable(*c)) return kAfcNotConnected;
        auto host = Resolve(*c, path);
        if (!host) return kAfcBadArgument;
        std::error_code ec;
        if (fs::is_directory(*host, ec)) return 0;
        fs::create_directories(*host, ec);
        return ec ? kAfcIo : 0;
    });
}

// Removes a file or an empty folder; a folder with entries is refused, as on a phone.
AppleResult APPLE_CALL AFCRemovePath(AFCConnectionRef connection, const char* path) {
    return Guarded<AppleResult>(kAfcUnknown, [&]() -> AppleResult {
        MaybeDumpCounters();
        auto c = FindConnection(connection);
        if (!c) return kAfcBadArgument;
        LogCall(Udid(*c), {"AFCRemovePath", Opt(path)});
        if (Fault(*c, "AFCRemovePath", Opt(path))) return kAfcFault;
        if (!Usable(*c)) return kAfcNotConnected;
        bool isRoot = false;
        auto host = Resolve(*c, path, &isRoot);
        if (!host || isRoot) return kAfcBadArgument;
        std::error_code ec;
        const fs::file_status st = fs::symlink_status(*host, ec);
        if (ec || !fs::exists(st)) return kAfcNotFound;
        if (fs::is_directory(st) && !fs::is_empty(*host, ec)) return kAfcIsDirectory;
        fs::remove(*host, ec);
        return ec ? kAfcIo : 0;
    });
}

AppleResult APPLE_CALL AFCRenamePath(AFCConnectionRef connection, const char* from, const char* to) {
    return Guarded<AppleResult>(kAfcUnknown, [&]() -> AppleResult {
        auto c = FindConnection(connection);
        if (!c) return kAfcBadArgument;
        LogCall(Udid(*c), {"AFCRenamePath", Opt(from), Opt(to)});
        if (Fault(*c, "AFCRenamePath", Opt(from))) return kAfcFault;
        if (!Usable(*c)) return kAfcNotConnected;
        bool fromRoot = false, toRoot = false;
        auto a = Resolve(*c, from, &fromRoot);
        auto b = Resolve(*c, to, &toRoot);
        if (!a || !b || fromRoot || toRoot) return kAfcBadArgument;
        std::error_code ec;
        fs::rename(*a, *b, ec);
        return ec ? kAfcIo : 0;
    });
}

AppleResult APPLE_CALL AFCFileRefOpen(AFCConnectionRef connection, const char* path, uint64_t mode, AFCFileRef* file) {
    return Guarded<AppleResult>(kAfcUnknown, [&]() -> AppleResult {
        MaybeDumpCounters();
        auto c = FindConnection(connection);
        if (!c) return kAfcBadArgument;
        LogCall(Udid(*c), {"AFCFileRefOpen", Opt(path), std::to_string(mode)});
        if (!file) return kAfcBadArgument;
        if (Fault(*c, "AFCFileRefOpen", Opt(path))) return kAfcFault;
        if (!Usable(*c)) return kAfcNotConnected;
        const char* fopenMode = FopenMode(mode);
        auto host = Resolve(*c, path);
        if (!host || !fopenMode) return kAfcBadArgument;
        std::error_code ec;
        const fs::file_status st = fs::status(*host, ec);
        if (fs::is_directory(st)) return kAfcIsDirectory;
        if (mode != 3 && !fs::is_regular_file(st)) return kAfcNotFound;
        FilePtr f = OpenFile(*host, fopenMode);
        if (!f) return mode == 3 ? kAfcPermission : kAfcNotFound;
        auto entry = std::make_shared<File>();
        entry->owner = c;
        entry->path = path;
        entry->mode = mode;
        entry->file = std::move(f);
        Afc& a = A();
        std::lock_guard lock(a.mutex);
        const AFCFileRef id = a.nextFile++;
        a.files[id] = std::move(entry);
        *file = id;
        return 0;
    });
}

namespace {
std::shared_ptr<File> FindFile(AFCConnectionRef connection, AFCFileRef id) {
    Afc& a = A();
    std::lock_guard lock(a.mutex);
    auto it = a.files.find(id);
    if (it == a.files.end() || it->second->owner.get() != connection) return nullptr;
    return it->second;
}

// C streams need a seek between reading and writing on the same stream.
void Switch(File& f, LastIo next) {
    if (f.last != LastIo::None && f.last != next) std::fseek(f.file.get(), 0, SEEK_CUR);
    f.last = next;
}
}  // namespace

AppleResult APPLE_CALL AFCFileRefRead(AFCConnectionRef connection, AFCFileRef file, void* buffer, uint32_t* length) {
    return Guarded<AppleResult>(kAfcUnknown, [&]() -> AppleResult {
        if (!length) return kAfcBadArgument;
        const uint32_t want = *length;
        *length = 0;
        auto f = FindFile(connection, file);
        if (!f || (!buffer && want > 0)) return kAfcBadArgument;
        if (Fault(*f->owner, "AFCFileRefRead", f->path)) return kAfcFault;
        if (!Usable(*f->owner)) return kAfcNotConnected;
        if (f->mode == 3) return kAfcPermission;
        Switch(*f, LastIo::Read);
        const size_t got = std::fread(buffer, 1, want, f->file.get());
        *length = static_cast<uint32_t>(got);
        return got < want && std::ferror(f->file.get()) ? kAfcIo : 0;
    });
}

AppleResult APPLE_CALL AFCFileRefWrite(AFCConnectionRef connection, AFCFileRef file, const void* data, uint32_t length) {
    return Guarded<AppleResult>(kAfcUnknown, [&]() -> AppleResult {
        auto f = FindFile(connection, file);
        if (!f || (!data && length > 0)) return kAfcBadArgument;
        if (Fault(*f->owner, "AFCFileRefWrite", f->path)) return kAfcFault;
        if (!Usable(*f->owner)) return kAfcNotConnected;
        if (f->mode == 1) return kAfcPermission;
        Switch(*f, LastIo::Write);
        const size_t put = length ? std::fwrite(data, 1, length, f->file.get()) : 0;
        return put == length && std::fflush(f->file.get()) == 0 ? 0 : kAfcIo;
    });
}

AppleResult APPLE_CALL AFCFileRefSeek(AFCConnectionRef connection, AFCFileRef file, int64_t offset, uint64_t whence) {
    return Guarded<AppleResult>(kAfcUnknown, [&]() -> AppleResult {
        auto f = FindFile(connection, file);
        if (!f || whence > 2) return kAfcBadArgument;
        if (Fault(*f->owner, "AFCFileRefSeek", f->path)) return kAfcFault;
        if (!Usable(*f->owner)) return kAfcNotConnected;
        const int origin = whence == 0 ? SEEK_SET : whence == 1 ? SEEK_CUR : SEEK_END;
        f->last = LastIo::None;
        return std::fseek(f->file.get(), static_cast<long>(offset), origin) == 0 ? 0 : kAfcBadArgument;
    });
}

AppleResult APPLE_CALL AFCFileRefClose(AFCConnectionRef connection, AFCFileRef file) {
    return Guarded<AppleResult>(kAfcUnknown, [&]() -> AppleResult {
        std::shared_ptr<File> f;
        {
            Afc& a = A();
            std::lock_guard lock(a.mutex);
            auto it = a.files.find(file);
            if (it == a.files.end() || it->second->owner.get() != connection) return kAfcBadArgument;
            f = it->second;
            a.files.erase(it);
        }
        return Fault(*f->owner, "AFCFileRefClose", f->path) ? kAfcFault : 0;
    });
}

AppleResult APPLE_CALL AFCFileInfoOpen(AFCConnectionRef connection, const char* path, AFCFileInfoRef* info) {
    return Guarded<AppleResult>(kAfcUnknown, [&]() -> AppleResult {
        MaybeDumpCounters();
        auto c = FindConnection(connection);
        if (!c || !info) return kAfcBadArgument;
        if (Fault(*c, "AFCFileInfoOpen", Opt(path))) return kAfcFault;
        if (!Usable(*c)) return kAfcNotConnected;
        auto host = Resolve(*c, path);
        if (!host) return kAfcBadArgument;
        auto pairs = Stat(*host);
        if (!pairs) return kAfcNotFound;
        auto i = std::make_shared<Info>(Info{c, path, std::move(*pairs), 0});
        Afc& a = A();
        std::lock_guard lock(a.mutex);
        a.infos[i.get()] = i;
        *info = i.get();
        return 0;
    });
}

AppleResult APPLE_CALL AFCKeyValueRead(AFCFileInfoRef info, char** key, char** value) {
    return Guarded<AppleResult>(kAfcUnknown, [&]() -> AppleResult {
        if (key) *key = nullptr;
        if (value) *value = nullptr;
        auto i = Find(A().infos, info);
        if (!i || !key || !value) return kAfcBadArgument;
        if (Fault(*i->owner, "AFCKeyValueRead", i->path)) return kAfcFault;
        if (!Usable(*i->owner)) return kAfcNotConnected;
        if (i->next >= i->pairs.size()) return 0;  // no more pairs: key and value none
        auto& pair = i->pairs[i->next++];
        *key = pair.first.data();
        *value = pair.second.data();
        return 0;
    });
}

AppleResult APPLE_CALL AFCKeyValueClose(AFCFileInfoRef info) {
    return Guarded<AppleResult>(kAfcUnknown, [&]() -> AppleResult {
        std::shared_ptr<Info> i;
        {
            Afc& a = A();
            std::lock_guard lock(a.mutex);
            auto it = a.infos.find(info);
            if (it == a.infos.end()) return kAfcBadArgument;
            i = it->second;
            a.infos.erase(it);
        }
        return Fault(*i->owner, "AFCKeyValueClose", i->path) ? kAfcFault : 0;
    });
}

}  // extern "C"

#define PHONESIM_CHECK(ret, name, args) static_assert(std::is_same_v<decltype(&::name), name##_fn>, #name);
CHIMEBOX_MOBILEDEVICE_ENTRIES(PHONESIM_CHECK)
#undef PHONESIM_CHECK

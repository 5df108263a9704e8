// POSIX implementation of the OS layer, used for the native builds and their tests.
// Windows behaviour is the reference; where POSIX has no equivalent the nearest honest stand-in is
// used (a message-queue registry, flock-based named mutexes, a PATH search for libraries).
#include "platform/platform.h"

#include <dirent.h>
#include <dlfcn.h>
#include <fcntl.h>
#include <pthread.h>
#include <spawn.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <sys/types.h>
#include <sys/wait.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <chrono>
#include <condition_variable>
#include <cstdlib>
#include <ctime>
#include <deque>
#include <memory>
#include <mutex>
#include <thread>
#include <unordered_map>

extern char** environ;

namespace platform {
namespace {

// Windows APIs take NUL-terminated strings, so an embedded NUL ends a name there too.
std::u16string_view UpToNul(std::u16string_view s) {
    const size_t nul = s.find(u'\0');
    return nul == std::u16string_view::npos ? s : s.substr(0, nul);
}

std::string Utf8UpToNul(std::u16string_view s) { return Utf16ToUtf8(UpToNul(s)); }

// ---- Thread message queues ----

struct MessageQueue {
    std::mutex lock;
    std::deque<ThreadMessage> messages;
};

// Identity -> queue. Deliberately leaked so that thread-exit cleanup during static destruction
// still finds it alive.
class QueueRegistry {
public:
    static QueueRegistry& Get() {
        static QueueRegistry* registry = new QueueRegistry;
        return *registry;
    }

    // Identities come from a counter and are never handed out twice (0 is skipped on wrap).
    std::pair<ThreadId, std::shared_ptr<MessageQueue>> Register() {
        auto queue = std::make_shared<MessageQueue>();
        std::lock_guard<std::mutex> guard(lock_);
        ThreadId id = ++lastId_;
        if (id == 0) id = ++lastId_;
        queues_.emplace(id, queue);
        return {id, queue};
    }

    void Remove(ThreadId id) {
        std::lock_guard<std::mutex> guard(lock_);
        queues_.erase(id);
    }

    std::shared_ptr<MessageQueue> Find(ThreadId id) {
        std::lock_guard<std::mutex> guard(lock_);
        auto it = queues_.find(id);
        return it == queues_.end() ? nullptr : it->second;
    }

private:
    std::mutex lock_;
    ThreadId lastId_ = 0;
    std::unordered_map<ThreadId, std::shared_ptr<MessageQueue>> queues_;
};

// The calling thread's identity and queue; unregistered when the thread exits, so posts to a
// thread that has gone (including threads we did not start) fail.
struct ThreadSlot {
    ThreadId id = 0;
    std::shared_ptr<MessageQueue> queue;

    void Attach(ThreadId newId, std::shared_ptr<MessageQueue> newQueue) {
        id = newId;
        queue = std::move(newQueue);
    }
    void Detach() {
        if (id != 0) QueueRegistry::Get().Remove(id);
        id = 0;
        queue.reset();
    }
    ~ThreadSlot() { Detach(); }
};

thread_local ThreadSlot tlsSlot;

ThreadSlot& CurrentSlot() {
    if (tlsSlot.id == 0) {
        auto [id, queue] = QueueRegistry::Get().Register();
        tlsSlot.Attach(id, std::move(queue));
    }
    return tlsSlot;
}

struct StartContext {
    ThreadEntry entry;
    void* arg;
    ThreadId id;
    std::shared_ptr<MessageQueue> queue;
};

void* ThreadTrampoline(void* raw) {
    std::unique_ptr<StartContext> context(static_cast<StartContext*>(raw));
    tlsSlot.Attach(context->id, std::move(context->queue));
    const ThreadEntry entry = context->entry;
    void* arg = context->arg;
    context.reset();
    entry(arg);
    tlsSlot.Detach();  // the queue goes when the thread function returns
    return nullptr;
}

// ---- Named mutex ----

// One handle = one open file description, so flock excludes between handles of one process as
// well as between processes. A handle shared by several threads is serialised by `held`, because
// flock alone would let every user of the same description in.
struct NamedMutex {
    int fd = -1;  // -1 for an unnamed mutex, which only serialises users of this handle
    std::mutex lock;
    std::condition_variable released;
    bool held = false;
};

bool IsSafeNameUnit(char16_t u) {
    return (u >= u'a' && u <= u'z') || (u >= u'A' && u <= u'Z') || (u >= u'0' && u <= u'9') ||
           u == u'_' || u == u'-' || u == u'.';
}

uint64_t Fnv1a(std::u16string_view s) {
    uint64_t h = 1469598103934665603ull;
    for (char16_t u : s) {
        for (int shift = 0; shift < 16; shift += 8) {
            h ^= (u >> shift) & 0xFF;
            h *= 1099511628211ull;
        }
    }
    return h;
}

// Maps any UTF-16 name to one file name component: safe characters stay, every other unit
// becomes %XXXX (so '/', "..", NUL bytes and case tricks cannot escape or collide), a leading '.'
// is escaped too. Names too long for a file name keep a prefix and a hash of the whole name.
std::string MutexFileName(std::u16string_view name) {
    static const char hex[] = "0123456789ABCDEF";
    std::string out = "m_";
    for (size_t i = 0; i < name.size(); ++i) {
        const char16_t u = name[i];
        if (IsSafeNameUnit(u) && !(i == 0 && u == u'.')) {
            out.push_back(static_cast<char>(u));
        } else {
            out.push_back('%');
            for (int shift = 12; shift >= 0; shift -= 4) out.push_back(hex[(u >> shift) & 0xF]);
        }
    }
    constexpr size_t kMaxLength = 200;  // well under NAME_MAX (255)
    if (out.size() > kMaxLength) {
        out.resize(kMaxLength - 17);
        out.push_back('~');  // never produced by the escaping above
        const uint64_t h = Fnv1a(name);
        for (int shift = 60; shift >= 0; shift -= 4) out.push_back(hex[(h >> shift) & 0xF]);
    }
    return out;
}

// ---- Environment: getenv/setenv are not safe against each other across threads ----

std::mutex environmentLock;

std::optional<std::string> LockedGetenv(const char* name) {
    std::lock_guard<std::mutex> guard(environmentLock);
    const char* value = std::getenv(name);
    return value ? std::optional<std::string>(value) : std::nullopt;
}

// mkdir -p; failures show up when the folder is examined afterwards.
void MakeDirectories(const std::string& dir) {
    for (size_t slash = dir.find('/', 1); slash != std::string::npos; slash = dir.find('/', slash + 1)) {
        mkdir(dir.substr(0, slash).c_str(), 0700);
    }
    mkdir(dir.c_str(), 0700);
}

// The folder for mutex files, created on demand. The default per-user folder in /tmp must be a
// real directory owned by us, so another user cannot plant it.
std::string MutexDirectory(bool create) {
    const std::optional<std::string> custom = LockedGetenv("CHIMEBOX_MUTEX_DIR");
    const bool chosen = custom && !custom->empty();
    std::string dir;
    if (chosen) {
        dir = *custom;
    } else {
        dir = "/tmp/chimebox-mutex-" + std::to_string(getuid());
    }
    while (dir.size() > 1 && dir.back() == '/') dir.pop_back();
    if (create) MakeDirectories(dir);
    struct stat st {};
    if (lstat(dir.c_str(), &st) != 0 || !S_ISDIR(st.st_mode)) return {};
    if (!chosen && st.st_uid != getuid()) return {};
    return dir;
}

MutexHandle OpenMutexFile(std::u16string_view rawName, bool create) {
    const std::u16string_view name = UpToNul(rawName);
    if (name.empty()) {
        return create ? new NamedMutex : nullptr;
    }
    const std::string dir = MutexDirectory(create);
    if (dir.empty()) return nullptr;
    const std::string path = dir + "/" + MutexFileName(name);
    const int flags = O_RDWR | O_CLOEXEC | O_NOFOLLOW | (create ? O_CREAT : 0);
    int fd;
    do {
        fd = open(path.c_str(), flags, 0600);
    } while (fd < 0 && errno == EINTR);
    if (fd < 0) return nullptr;
    auto* mutex = new NamedMutex;
    mutex->fd = fd;
    return mutex;
}

// ---- Registry ----

std::mutex registryLock;
RegistryReader registryReader;  // empty = default (POSIX has no registry)

// ---- Libraries ----

std::string ToForwardSlashes(std::string s) {
    for (char& c : s) {
        if (c == '\\') c = '/';
    }
    return s;
}

bool FileExists(const std::string& path) {
    struct stat st {};
    return stat(path.c_str(), &st) == 0 && S_ISREG(st.st_mode);
}

// ---- Processes ----

std::string BaseName(const std::string& path) {
    const size_t slash = path.rfind('/');
    return slash == std::string::npos ? path : path.substr(slash + 1);
}

std::string ReadExeLink(const std::string& procDir) {
    std::string buffer(4096, '\0');
    const ssize_t n = readlink((procDir + "/exe").c_str(), buffer.data(), buffer.size());
    if (n <= 0 || static_cast<size_t>(n) >= buffer.size()) return {};
    buffer.resize(static_cast<size_t>(n));
    const std::string deleted = " (deleted)";
    if (buffer.size() > deleted.size() &&
        buffer.compare(buffer.size() - deleted.size(), deleted.size(), deleted) == 0) {
        buffer.resize(buffer.size() - deleted.size());
    }
    return buffer;
}

std::string ReadArgv0(const std::string& procDir) {
    const int fd = open((procDir + "/cmdline").c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) return {};
    char buffer[4096];
    const ssize_t n = read(fd, buffer, sizeof buffer);
    close(fd);
    if (n <= 0) return {};
    // argv[0] ends at the first NUL (or at the end of what was read).
    size_t length = 0;
    while (length < static_cast<size_t>(n) && buffer[length] != '\0') ++length;
    return std::string(buffer, length);
}

bool ParsePid(const char* text, uint32_t* pid) {
    if (*text == '\0') return false;
    uint64_t value = 0;
    for (const char* p = text; *p != '\0'; ++p) {
        if (*p < '0' || *p > '9') return false;
        value = value * 10 + static_cast<uint64_t>(*p - '0');
        if (value > UINT32_MAX) return false;
    }
    *pid = static_cast<uint32_t>(value);
    return true;
}

bool AppendToOpenLog(const char* logPath, const std::string& line) {
    const int fd = open(logPath, O_WRONLY | O_APPEND | O_CREAT | O_CLOEXEC, 0600);
    if (fd < 0) return false;
    size_t written = 0;
    while (written < line.size()) {
        const ssize_t n = write(fd, line.data() + written, line.size() - written);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) break;
        written += static_cast<size_t>(n);
    }
    close(fd);
    return written == line.size();
}

}  // namespace

// ---- Threads ----

ThreadId StartThread(ThreadEntry entry, void* arg) {
    if (entry == nullptr) return 0;
    auto [id, queue] = QueueRegistry::Get().Register();
    auto* context = new StartContext{entry, arg, id, std::move(queue)};
    pthread_attr_t attributes;
    if (pthread_attr_init(&attributes) != 0) {
        QueueRegistry::Get().Remove(id);
        delete context;
        return 0;
    }
    pthread_attr_setdetachstate(&attributes, PTHREAD_CREATE_DETACHED);
    pthread_t thread;
    const int rc = pthread_create(&thread, &attributes, ThreadTrampoline, context);
    pthread_attr_destroy(&attributes);
    if (rc != 0) {
        QueueRegistry::Get().Remove(id);
        delete context;
        return 0;
    }
    return id;
}

ThreadId CurrentThreadId() { return CurrentSlot().id; }

bool PostToThread(ThreadId thread, uint32_t message, uintptr_t wParam, intptr_t lParam) {
    if (thread == 0) return false;
    const std::shared_ptr<MessageQueue> queue = QueueRegistry::Get().Find(thread);
    if (!queue) return false;
    std::lock_guard<std::mutex> guard(queue->lock);
    queue->messages.push_back(ThreadMessage{message, wParam, lParam});
    return true;
}

bool PeekThreadMessage(ThreadMessage* out) {
    MessageQueue& queue = *CurrentSlot().queue;
    std::lock_guard<std::mutex> guard(queue.lock);
    if (queue.messages.empty()) return false;
    if (out != nullptr) *out = queue.messages.front();
    queue.messages.pop_front();
    return true;
}

bool DrainThreadMessages() {
    ThreadMessage message;
    while (PeekThreadMessage(&message)) {
        if (message.message == MSG_THREAD_QUIT) return true;
    }
    return false;
}

void SleepMs(uint32_t milliseconds) {
    std::this_thread::sleep_for(std::chrono::milliseconds(milliseconds));
}

uint32_t SecondsSince1970() {
    return static_cast<uint32_t>(static_cast<uint64_t>(std::time(nullptr)));
}

uint64_t MonotonicMs() {
    timespec now {};
    clock_gettime(CLOCK_MONOTONIC, &now);
    return static_cast<uint64_t>(now.tv_sec) * 1000u + static_cast<uint64_t>(now.tv_nsec) / 1000000u;
}

// ---- Named mutex ----

MutexHandle CreateNamedMutex(std::u16string_view name) { return OpenMutexFile(name, true); }

MutexHandle OpenNamedMutex(std::u16string_view name) { return OpenMutexFile(name, false); }

void WaitNamedMutex(MutexHandle handle) {
    if (handle == nullptr) return;
    auto* mutex = static_cast<NamedMutex*>(handle);
    {
        std::unique_lock<std::mutex> guard(mutex->lock);
        mutex->released.wait(guard, [mutex] { return !mutex->held; });
        mutex->held = true;
    }
    if (mutex->fd >= 0) {
        while (flock(mutex->fd, LOCK_EX) != 0 && errno == EINTR) {
        }
    }
}

void ReleaseNamedMutex(MutexHandle handle) {
    if (handle == nullptr) return;
    auto* mutex = static_cast<NamedMutex*>(handle);
    if (mutex->fd >= 0) flock(mutex->fd, LOCK_UN);
    {
        std::lock_guard<std::mutex> guard(mutex->lock);
        mutex->held = false;
    }
    mutex->released.notify_one();
}

void CloseNamedMutex(MutexHandle handle) {
    if (handle == nullptr) return;
    auto* mutex = static_cast<NamedMutex*>(handle);
    if (mutex->fd >= 0) close(mutex->fd);  // also drops a lock still held through it
    delete mutex;
}

// ---- Registry ----

std::optional<std::u16string> ReadRegistryString(std::u16string_view key, std::u16string_view value) {
    RegistryReader reader;
    {
        std::lock_guard<std::mutex> guard(registryLock);
        reader = registryReader;
    }
    if (!reader) return std::nullopt;
    return reader(key, value);
}

void SetRegistryReader(RegistryReader reader) {
    std::lock_guard<std::mutex> guard(registryLock);
    registryReader = std::move(reader);
}

// ---- Environment ----

std::optional<std::u16string> GetEnv(std::u16string_view name) {
    const std::string key = Utf8UpToNul(name);
    if (key.empty()) return std::nullopt;
    const std::optional<std::string> value = LockedGetenv(key.c_str());
    if (!value) return std::nullopt;
    return Utf8ToUtf16(*value);
}

void SetEnv(std::u16string_view name, std::u16string_view value) {
    const std::string key = Utf8UpToNul(name);
    if (key.empty()) return;
    const std::string text = Utf8UpToNul(value);
    std::lock_guard<std::mutex> guard(environmentLock);
    setenv(key.c_str(), text.c_str(), 1);  // fails harmlessly for a name containing '='
}

void UnsetEnv(std::u16string_view name) {
    const std::string key = Utf8UpToNul(name);
    if (key.empty()) return;
    std::lock_guard<std::mutex> guard(environmentLock);
    unsetenv(key.c_str());
}

// ---- Libraries ----

LibraryHandle LoadLibraryByName(const char* bareName) {
    if (bareName == nullptr || *bareName == '\0') return nullptr;
    const std::optional<std::u16string> path = GetEnv(u"PATH");
    if (!path) return nullptr;
    const std::string folders = Utf16ToUtf8(*path);
    size_t start = 0;
    while (start <= folders.size()) {
        size_t end = folders.find(';', start);
        if (end == std::string::npos) end = folders.size();
        std::string folder = ToForwardSlashes(folders.substr(start, end - start));
        start = end + 1;
        if (folder.empty()) continue;
        if (folder.back() != '/') folder.push_back('/');
        const std::string candidate = folder + bareName;
        if (FileExists(candidate)) return dlopen(candidate.c_str(), RTLD_NOW | RTLD_LOCAL);
    }
    return nullptr;
}

LibraryHandle LoadLibraryByPath(std::u16string_view fullPath) {
    const std::string path = ToForwardSlashes(Utf8UpToNul(fullPath));
    if (path.empty()) return nullptr;
    return dlopen(path.c_str(), RTLD_NOW | RTLD_LOCAL);
}

void* FindExport(LibraryHandle library, const char* name) {
    // dlsym(nullptr, ...) would search the whole process; a missing library finds nothing.
    if (library == nullptr || name == nullptr) return nullptr;
    return dlsym(library, name);
}

// ---- ANSI: Latin-1 identity, so narrow names keep their bytes ----

std::u16string AnsiToUtf16(std::string_view ansi) {
    std::u16string out;
    out.reserve(ansi.size());
    for (char c : ansi) out.push_back(static_cast<unsigned char>(c));
    return out;
}

std::string Utf16ToAnsi(std::u16string_view utf16) {
    std::string out;
    out.reserve(utf16.size());
    for (char16_t u : utf16) out.push_back(u <= 0xFF ? static_cast<char>(u) : '?');
    return out;
}

// ---- Processes and shell ----

std::vector<ProcessInfo> ListProcesses() {
    std::vector<ProcessInfo> result;
    DIR* proc = opendir("/proc");
    if (proc == nullptr) return result;
    while (const dirent* entry = readdir(proc)) {
        uint32_t pid = 0;
        if (!ParsePid(entry->d_name, &pid)) continue;
        const std::string dir = std::string("/proc/") + entry->d_name;
        std::string exe = ReadExeLink(dir);
        if (exe.empty()) exe = ReadArgv0(dir);
        if (exe.empty()) continue;  // kernel threads have neither
        result.push_back(ProcessInfo{Utf8ToUtf16(BaseName(exe)), pid});
    }
    closedir(proc);
    return result;
}

bool ShellOpen(std::u16string_view url) {
    const std::string text = Utf16ToUtf8(UpToNul(url));
    if (const std::optional<std::string> log = LockedGetenv("CHIMEBOX_OPEN_LOG"); log && !log->empty()) {
        return AppendToOpenLog(log->c_str(), text + "\n");
    }
    std::string program = "xdg-open";
    char* argv[] = {program.data(), const_cast<char*>(text.c_str()), nullptr};
    pid_t child = 0;
    if (posix_spawnp(&child, "xdg-open", nullptr, nullptr, argv, environ) != 0) return false;
    // Reap it in the background so the caller never waits for the browser.
    try {
        std::thread([child] {
            int status = 0;
            while (waitpid(child, &status, 0) < 0 && errno == EINTR) {
            }
        }).detach();
    } catch (...) {
        // No thread for reaping: the child stays a zombie until we exit, which is harmless.
    }
    return true;
}

}  // namespace platform

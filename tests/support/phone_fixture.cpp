#include "tests/support/phone_fixture.h"

#include <atomic>
#include <fstream>
#include <mutex>
#include <sstream>
#include <thread>

#include "device/apple_bindings.h"
#include "device/apple_runtime.h"
#include "device/device_events.h"
#include "device/device_session.h"
#include "device/sync_state.h"
#include "device/ui_notify.h"
#include "phonesim/phonesim_api.h"
#include "platform/platform.h"

std::ostream& operator<<(std::ostream& out, const LeakCounters& c) {
    return out << "{cf " << c.cf_objects << ", afc conn " << c.afc_connections << ", files " << c.afc_files
               << ", dirs " << c.afc_dirs << ", infos " << c.afc_infos << "}";
}

namespace {
#ifdef _WIN32
constexpr char16_t SEPARATOR = u'\\';
#else
constexpr char16_t SEPARATOR = u'/';
#endif
}  // namespace

std::u16string AppleSupportRoot() {
    auto root = platform::GetEnv(u"CHIMEBOX_APPLE_SUPPORT");
    return root ? *root + SEPARATOR : u"";
}

std::u16string BuildPath(const std::string& relative) {
    std::u16string path = platform::GetEnv(u"CHIMEBOX_BUILD_DIR").value_or(u"") + SEPARATOR + platform::Utf8ToUtf16(relative);
    for (char16_t& c : path) {
        if (c == u'/') c = SEPARATOR;
    }
    return path;
}

void BindSimulatedApple() {
    static std::once_flag once;
    std::call_once(once, [] {
        std::u16string root = AppleSupportRoot();
        ASSERT_FALSE(root.empty()) << "CHIMEBOX_APPLE_SUPPORT is not set";
        PrepareAppleSearchPath(root);
        ASSERT_TRUE(BindAppleLibraries());
    });
}

bool WaitUntil(const std::function<bool()>& condition, std::chrono::milliseconds timeout) {
    auto end = std::chrono::steady_clock::now() + timeout;
    while (!condition()) {
        if (std::chrono::steady_clock::now() > end) return condition();
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    return true;
}

fs::path Utf8Path(const std::string& utf8) { return fs::path(std::u8string(utf8.begin(), utf8.end())); }

void WriteFile(const fs::path& path, const std::string& bytes) {
    fs::create_directories(path.parent_path());
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
}

std::string ReadFile(const fs::path& path) {
    std::ifstream in(path, std::ios::binary);
    std::ostringstream out;
    out << in.rdbuf();
    return out.str();
}

fs::path SimPhone::Container() const { return dir / "apps" / COMPANION_BUNDLE_ID; }
void SimPhone::SetName(const std::string& name) const { WriteFile(dir / "name", name); }
void SimPhone::SetPaired(bool paired) const {
    if (paired) WriteFile(dir / "paired", "");
    else fs::remove(dir / "paired");
}
void SimPhone::InstallCompanionApp() const { fs::create_directories(Container() / "Documents"); }
void SimPhone::Attach() const { WriteFile(dir / "attached", "1"); }
void SimPhone::ReannounceAttach() const {
    static std::atomic<int> token{2};
    WriteFile(dir / "attached", std::to_string(token++));
}
void SimPhone::Detach() const { fs::remove(dir / "attached"); }
void SimPhone::AddFault(const std::string& name, const std::string& path) const {
    std::ofstream out(dir / "faults", std::ios::app);
    out << name << (path.empty() ? "" : "\t" + path) << "\n";
}
// Emptied rather than removed: the simulator may have the file open at that moment, which on
// Windows forbids removing it.
void SimPhone::ClearFaults() const { WriteFile(dir / "faults", ""); }

std::vector<std::string> SimPhone::CallLog() const {
    std::vector<std::string> lines;
    std::ifstream in(dir / "calls.log");
    for (std::string line; std::getline(in, line);) lines.push_back(line);
    return lines;
}

std::vector<std::string> SimPhone::Calls(std::initializer_list<const char*> names) const {
    std::vector<std::string> out;
    for (const std::string& line : CallLog()) {
        std::string first = line.substr(0, line.find('\t'));
        for (const char* name : names) {
            if (first == name) out.push_back(line);
        }
    }
    return out;
}

namespace {

fs::path NewTempDir(const char* prefix) {
    static std::atomic<int> counter{0};
    fs::path dir = fs::temp_directory_path() /
                   (std::string(prefix) + std::to_string(platform::MonotonicMs()) + "-" + std::to_string(counter++));
    fs::create_directories(dir);
    return dir;
}

std::u16string PathText(const fs::path& path) {
    std::u8string text = path.u8string();
    return platform::Utf8ToUtf16(std::string_view(reinterpret_cast<const char*>(text.data()), text.size()));
}

template <typename Fn>
Fn SimExport(void* module, const char* name) {
    return reinterpret_cast<Fn>(platform::FindExport(module, name));
}

}  // namespace

void PhoneTest::SetUp() {
    BindSimulatedApple();
    StopDeviceEvents();
    root_ = NewTempDir("chimebox-phone-");
    fs::create_directories(root_ / "phones");
    platform::SetEnv(u"PHONESIM_ROOT", PathText(root_));
    fs::create_directories(root_ / "mutex");
    platform::SetEnv(u"CHIMEBOX_MUTEX_DIR", PathText(root_ / "mutex"));
    ResetSyncStateForTest();
    SetAttachHooks({});
    SetUiNotifySender(nullptr);
    sessionMutex_ = platform::CreateNamedMutex(SESSION_MUTEX_NAME);
    baseline_ = Counters();
}

void PhoneTest::TearDown() {
    DropSessionMutex();
    StopDeviceEvents();
    SetAttachHooks({});
    SetUiNotifySender(nullptr);
    std::error_code ignored;
    fs::remove_all(root_, ignored);
}

SimPhone PhoneTest::MakePhone(const std::string& udid, const std::string& name, bool paired, bool companionApp) {
    SimPhone phone{root_ / "phones" / udid, udid};
    fs::create_directories(phone.Media());
    if (!name.empty()) phone.SetName(name);
    phone.SetPaired(paired);
    if (companionApp) phone.InstallCompanionApp();
    return phone;
}

namespace {
std::atomic<AMDeviceRef> attachedDevice{nullptr};
void APPLE_CALL RecordAttach(const AMDeviceEvent* event) {
    if (event->kind == AMDeviceEventAttached) attachedDevice = event->device;
}
}  // namespace

AMDeviceRef PhoneTest::TakeDevice(const SimPhone& phone) {
    attachedDevice = nullptr;
    void* subscription = nullptr;
    MobileDevice.AMDeviceNotificationSubscribe(RecordAttach, 0, 0, nullptr, &subscription);
    phone.Attach();
    EXPECT_TRUE(WaitUntil([] { return attachedDevice.load() != nullptr; }));
    return attachedDevice.load();
}

void PhoneTest::MakeCurrent(const SimPhone& phone) {
    syncState.device = TakeDevice(phone);
    syncState.connectionState = Connected;
}

void PhoneTest::StopDeviceEvents() { SimExport<void (*)()>(MobileDevice.module, "PhoneSimReset")(); }

void PhoneTest::DropSessionMutex() {
    // Windows destroys a named mutex with its last handle; the POSIX stand-in is a file in this
    // test's mutex folder, which goes with it. (The environment is left alone: the simulator's
    // threads read it meanwhile.)
    if (sessionMutex_) platform::CloseNamedMutex(sessionMutex_);
    sessionMutex_ = nullptr;
    std::error_code ignored;
    for (const auto& entry : fs::directory_iterator(root_ / "mutex", ignored)) fs::remove(entry.path(), ignored);
}

LeakCounters PhoneTest::Counters() const {
    PhoneSimCounters raw{};
    SimExport<void (*)(PhoneSimCounters*)>(MobileDevice.module, "PhoneSimGetCounters")(&raw);
    return {raw.cf_objects, raw.afc_connections, raw.afc_files, raw.afc_dirs, raw.afc_infos};
}

void PhoneTest::ExpectNoLeaks() const { EXPECT_EQ(Counters(), baseline_); }

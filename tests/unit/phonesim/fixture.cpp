#include "fixture.h"

#include <atomic>
#include <condition_variable>
#include <cstdio>
#include <fstream>
#include <mutex>
#include <random>
#include <thread>

namespace phonesim_test {
namespace {

std::mutex g_mutex;
std::vector<SeenEvent> g_events;

void APPLE_CALL Collect(const AMDeviceEvent* event) {
    SeenEvent seen{event->device, event->kind, Utf8(CfPtr(AMDeviceCopyDeviceIdentifier(event->device)).get())};
    std::lock_guard lock(g_mutex);
    g_events.push_back(seen);
}

}  // namespace

fs::path PathFromUtf8(const std::string& utf8) {
    return fs::path(std::u8string(reinterpret_cast<const char8_t*>(utf8.data()), utf8.size()));
}

std::string PathToUtf8(const fs::path& path) {
    const std::u8string s = path.u8string();
    return std::string(reinterpret_cast<const char*>(s.data()), s.size());
}

void WriteFile(const fs::path& path, const std::string& bytes) {
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
    ASSERT_TRUE(out.good()) << "cannot write " << path;
}

std::optional<std::string> ReadFile(const fs::path& path) {
    std::ifstream in(path, std::ios::binary);
    if (!in) return std::nullopt;
    return std::string(std::istreambuf_iterator<char>(in), {});
}

bool WaitFor(const std::function<bool()>& condition, std::chrono::milliseconds limit) {
    const auto end = std::chrono::steady_clock::now() + limit;
    while (!condition()) {
        if (std::chrono::steady_clock::now() > end) return false;
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    return true;
}

uint32_t ConnectionNumber(AMDeviceRef device) {
    uint32_t n = 0;
    std::memcpy(&n, static_cast<const char*>(device) + AM_DEVICE_CONNECTION_NUMBER_OFFSET, sizeof n);
    return n;
}

std::string Utf8(CFStringRef string) {
    if (!string) return {};
    std::vector<char> buffer(static_cast<size_t>(CFStringGetLength(string)) * 3 + 1, '\0');
    if (!CFStringGetCString(string, buffer.data(), static_cast<CFIndex>(buffer.size()), kCFStringEncodingUTF8))
        return {};
    return buffer.data();
}

void PhoneSimTest::SetUp() {
    static std::atomic<int> counter{0};
    std::random_device random;
    root_ = fs::temp_directory_path() /
            ("phonesim-" + std::to_string(random()) + "-" + std::to_string(++counter));
    fs::create_directories(root_ / "phones");
    SetEnv("PHONESIM_ROOT", PathToUtf8(root_));
    std::lock_guard lock(g_mutex);
    g_events.clear();
}

void PhoneSimTest::TearDown() {
    PhoneSimReset();
    {
        std::lock_guard lock(g_mutex);
        g_events.clear();
    }
    std::error_code ec;
    fs::remove_all(root_, ec);
}

fs::path PhoneSimTest::MakePhone(const PhoneSpec& layout) {
    const fs::path dir = PhoneDir(layout.udid);
    fs::create_directories(dir / "media");
    if (!layout.name.empty()) WriteFile(dir / "name", layout.name + "\n");
    if (layout.paired) WriteFile(dir / "paired", "");
    for (const std::string& app : layout.apps) fs::create_directories(dir / "apps" / PathFromUtf8(app));
    if (layout.attached) Attach(layout.udid);
    return dir;
}

void PhoneSimTest::Attach(const std::string& udid, const std::string& token) {
    WriteFile(PhoneDir(udid) / "attached", token);
}

void PhoneSimTest::Detach(const std::string& udid) { fs::remove(PhoneDir(udid) / "attached"); }

void PhoneSimTest::Subscribe() {
    if (subscribed_) return;
    void* subscription = nullptr;
    ASSERT_EQ(AMDeviceNotificationSubscribe(Collect, 0, 0, nullptr, &subscription), 0);
    subscribed_ = true;
}

std::vector<SeenEvent> PhoneSimTest::Events() {
    std::lock_guard lock(g_mutex);
    return g_events;
}

std::vector<SeenEvent> PhoneSimTest::WaitForEvents(size_t n) {
    WaitFor([&] { return Events().size() >= n; });
    return Events();
}

AMDeviceRef PhoneSimTest::DeviceOf(const std::string& udid) {
    Subscribe();
    AMDeviceRef found = nullptr;
    WaitFor([&] {
        for (const SeenEvent& e : Events())
            if (e.udid == udid) found = e.kind == AMDeviceEventAttached ? e.device : nullptr;
        return found != nullptr;
    });
    return found;
}

void PhoneSimTest::OpenSession(AMDeviceRef device) {
    ASSERT_EQ(AMDeviceConnect(device), 0);
    ASSERT_EQ(AMDeviceIsPaired(device), 1);
    ASSERT_EQ(AMDeviceValidatePairing(device), 0);
    ASSERT_EQ(AMDeviceStartSession(device), 0);
}

void PhoneSimTest::CloseSession(AMDeviceRef device) {
    AMDeviceStopSession(device);
    AMDeviceDisconnect(device);
}

AMServiceConnection PhoneSimTest::MediaService(AMDeviceRef device) {
    AMServiceConnection service = 0;
    OpenSession(device);
    CfPtr name(__CFStringMakeConstantString("com.apple.afc"));
    EXPECT_EQ(AMDeviceStartService(device, name.get(), &service, nullptr), 0);
    CloseSession(device);
    return service;
}

AMServiceConnection PhoneSimTest::AppService(AMDeviceRef device, const char* bundle) {
    AMServiceConnection service = 0;
    OpenSession(device);
    CfPtr id(__CFStringMakeConstantString(bundle));
    EXPECT_EQ(AMDeviceStartHouseArrestService(device, id.get(), nullptr, &service, nullptr), 0);
    CloseSession(device);
    return service;
}

AFCConnectionRef PhoneSimTest::OpenMedia(const std::string& udid) {
    AMDeviceRef device = DeviceOf(udid);
    if (!device) {
        ADD_FAILURE() << "no attach event for " << udid;
        return nullptr;
    }
    const AMServiceConnection service = MediaService(device);
    AFCConnectionRef afc = nullptr;
    EXPECT_EQ(AFCConnectionOpen(service, 0, &afc), 0);
    return afc;
}

std::vector<std::string> PhoneSimTest::CallLines(const std::string& udid) {
    std::vector<std::string> lines;
    auto text = ReadFile(PhoneDir(udid) / "calls.log");
    if (!text) return lines;
    size_t pos = 0;
    while (pos < text->size()) {
        size_t end = text->find('\n', pos);
        if (end == std::string::npos) end = text->size();
        lines.push_back(text->substr(pos, end - pos));
        pos = end + 1;
    }
    return lines;
}

std::vector<std::vector<std::string>> PhoneSimTest::CallsNamed(const std::string& udid, const std::string& name) {
    std::vector<std::vector<std::string>> out;
    for (const std::string& line : CallLines(udid)) {
        std::vector<std::string> fields;
        size_t pos = 0;
        for (;;) {
            const size_t tab = line.find('\t', pos);
            fields.push_back(line.substr(pos, tab - pos));
            if (tab == std::string::npos) break;
            pos = tab + 1;
        }
        if (fields[0] == name) out.push_back(std::move(fields));
    }
    return out;
}

}  // namespace phonesim_test

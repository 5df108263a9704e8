// A fresh simulated phone root per test, and helpers to act as the phone and to watch events.
#pragma once

#include <gtest/gtest.h>

#include <chrono>
#include <cstring>
#include <filesystem>
#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "phonesim/phonesim_api.h"

namespace phonesim_test {

namespace fs = std::filesystem;

// Sets a variable in the process environment (where the libraries read it).
void SetEnv(const char* name, const std::string& utf8);
fs::path PathFromUtf8(const std::string& utf8);
std::string PathToUtf8(const fs::path& path);

void WriteFile(const fs::path& path, const std::string& bytes);
std::optional<std::string> ReadFile(const fs::path& path);

// Polls until the condition holds or the time is up (events arrive every ~20 ms).
bool WaitFor(const std::function<bool()>& condition, std::chrono::milliseconds limit = std::chrono::seconds(10));

struct SeenEvent {
    AMDeviceRef device;
    uint32_t kind;
    std::string udid;  // read from the record when the event came
};

uint32_t ConnectionNumber(AMDeviceRef device);
std::string Utf8(CFStringRef string);  // text of a CF string ("" for none)

struct PhoneSpec {
    std::string udid;
    std::string name = "Test Phone";
    bool paired = true;
    bool attached = true;
    std::vector<std::string> apps = {"com.zephra.tonesmithclient"};
};

class PhoneSimTest : public ::testing::Test {
protected:
    void SetUp() override;
    void TearDown() override;

    fs::path PhoneDir(const std::string& udid) const { return root_ / "phones" / PathFromUtf8(udid); }
    fs::path MakePhone(const PhoneSpec& layout);
    void Attach(const std::string& udid, const std::string& token = "1");
    void Detach(const std::string& udid);

    // Subscribes the shared event collector.
    void Subscribe();
    std::vector<SeenEvent> Events();
    // Waits for the n-th event (1-based) overall and returns the list so far.
    std::vector<SeenEvent> WaitForEvents(size_t n);
    // Subscribes if needed and waits until the phone's attach event arrived; its device.
    AMDeviceRef DeviceOf(const std::string& udid);

    // Connect, pairing check, session: as the program's session bracket does.
    void OpenSession(AMDeviceRef device);
    void CloseSession(AMDeviceRef device);
    AMServiceConnection MediaService(AMDeviceRef device);
    AMServiceConnection AppService(AMDeviceRef device, const char* bundle = "com.zephra.tonesmithclient");
    // An AFC connection on the phone's media partition (closed by the caller).
    AFCConnectionRef OpenMedia(const std::string& udid);

    std::vector<std::string> CallLines(const std::string& udid);
    // The fields of every calls.log line whose first field is name.
    std::vector<std::vector<std::string>> CallsNamed(const std::string& udid, const std::string& name);

    void SetFaults(const std::string& udid, const std::string& rules) { WriteFile(PhoneDir(udid) / "faults", rules); }

    fs::path root_;
    bool subscribed_ = false;
};

// CF helpers that release what they make.
struct CfRelease {
    void operator()(const void* p) const { CFRelease(p); }
};
using CfPtr = std::unique_ptr<const void, CfRelease>;
inline CfPtr Str(const char* text) { return CfPtr(CFStringCreateWithCString(nullptr, text, kCFStringEncodingUTF8)); }

}  // namespace phonesim_test

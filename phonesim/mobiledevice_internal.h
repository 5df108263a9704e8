// Shared inside iTunesMobileDevice.dll: device records, service connections, the AFC registry.
#pragma once

#include <atomic>
#include <cstddef>
#include <optional>
#include <string>
#include <vector>

#include "phonesim/common.h"
#include "phonesim/phonesim_api.h"

namespace phonesim::md {

// Failure results (values as Apple's libraries use them; callers only test for non-zero).
constexpr AppleResult kErrUndefined = static_cast<AppleResult>(0xE8000001u);
constexpr AppleResult kErrBadArgument = static_cast<AppleResult>(0xE8000007u);
constexpr AppleResult kErrNotConnected = static_cast<AppleResult>(0xE8000015u);
constexpr AppleResult kErrNoSession = static_cast<AppleResult>(0xE800001Eu);
constexpr AppleResult kErrInvalidService = static_cast<AppleResult>(0xE8000022u);
constexpr AppleResult kErrFault = static_cast<AppleResult>(0xE8000065u);
// AFC results.
constexpr AppleResult kAfcUnknown = 1;
constexpr AppleResult kAfcBadArgument = 7;
constexpr AppleResult kAfcNotFound = 8;
constexpr AppleResult kAfcIsDirectory = 9;
constexpr AppleResult kAfcPermission = 10;
constexpr AppleResult kAfcNotConnected = 11;
constexpr AppleResult kAfcIo = 13;
constexpr AppleResult kAfcFault = 19;

struct DeviceState {
    std::string udid;
    std::atomic<bool> live{true};  // false after the detach: the record is stale for good
    std::atomic<bool> connected{false};
    std::atomic<bool> session{false};
};

// What an AMDeviceRef points to. The first 16 bytes are fixed-size, so the connection number
// sits at byte offset 16 with 32- and 64-bit pointers alike.
struct DeviceRecord {
    char tag[16];
    uint32_t connectionNumber;
    uint32_t reserved;
    DeviceState* state;
};
static_assert(offsetof(DeviceRecord, connectionNumber) == AM_DEVICE_CONNECTION_NUMBER_OFFSET);

// The state behind a device reference handed out by this library; none for anything else.
DeviceState* FindDevice(AMDeviceRef device);
// A phone counts as attached while its record is current and its `attached` file exists.
bool IsAttached(const DeviceState& device);

// A started service: which phone, and the folder below the phone that is its AFC root.
struct Service {
    DeviceState* device = nullptr;
    std::vector<std::string> root;  // {"media"} or {"apps", bundle id}
};
AMServiceConnection AddService(Service service);
std::optional<Service> FindService(AMServiceConnection id);

// AFC handle bookkeeping (afc.cpp).
void CountAfc(PhoneSimCounters& counters);
void ResetAfc();

// Writes $PHONESIM_ROOT/counters.json when $PHONESIM_ROOT/dump-counters exists, then removes it.
void MaybeDumpCounters();

}  // namespace phonesim::md

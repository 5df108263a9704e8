// The entry-point tables of Apple's three libraries, filled once at start-up and read-only after.
#pragma once

#include "device/apple_api.h"

#define CHIMEBOX_TABLE_SLOT(ret, name, args) name##_fn name = nullptr;

struct MobileDeviceTable {
    void* module = nullptr;
    CHIMEBOX_MOBILEDEVICE_ENTRIES(CHIMEBOX_TABLE_SLOT)
};

struct CoreFoundationTable {
    void* module = nullptr;
    CHIMEBOX_COREFOUNDATION_ENTRIES(CHIMEBOX_TABLE_SLOT)
    // Copies of the data exports; only the addresses of these copies are passed on.
    CFBooleanRef kCFBooleanFalse = nullptr;
    CFBooleanRef kCFBooleanTrue = nullptr;
    CFDictionaryKeyCallBacks kCFTypeDictionaryKeyCallBacks{};
    CFDictionaryValueCallBacks kCFTypeDictionaryValueCallBacks{};
};

struct AirTrafficTable {
    void* module = nullptr;
    CHIMEBOX_AIRTRAFFIC_ENTRIES(CHIMEBOX_TABLE_SLOT)
};

#undef CHIMEBOX_TABLE_SLOT

extern MobileDeviceTable MobileDevice;
extern CoreFoundationTable CoreFoundation;
extern AirTrafficTable AirTraffic;

// Each loads its library by bare file name and resolves its table. True when the library loaded
// and every export the program calls is present; a missing never-called export does not matter.
bool BindCoreFoundation();
bool BindMobileDevice();
bool BindAirTrafficHost();

// Binds the three in order, stopping at the first failure.
bool BindAppleLibraries();

// Forgets every binding (tests only: the libraries themselves stay loaded).
void ResetAppleBindingsForTest();

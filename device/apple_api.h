/* Declarations of the entry points of Apple's three mobile-device libraries, as this program
 * calls them. Plain C so that the simulated libraries in phonesim/ can export exactly these.
 * Every list entry is X(result, exported name, (arguments)); the lists are in binding order. */
#ifndef CHIMEBOX_DEVICE_APPLE_API_H
#define CHIMEBOX_DEVICE_APPLE_API_H

#include <stdint.h>

#ifdef _WIN32
#define APPLE_CALL __cdecl
#else
#define APPLE_CALL
#endif

#ifdef __cplusplus
extern "C" {
#endif

typedef const void* CFTypeRef;
typedef const void* CFStringRef;
typedef const void* CFBooleanRef;
typedef const void* CFNumberRef;
typedef const void* CFDataRef;
typedef void* CFMutableDictionaryRef;
typedef const void* CFDictionaryRef;
typedef void* CFMutableArrayRef;
typedef const void* CFArrayRef;
typedef const void* CFAllocatorRef;
typedef intptr_t CFIndex;
typedef uint32_t CFStringEncoding;
typedef CFIndex CFNumberType;
typedef CFIndex CFPropertyListFormat;
typedef uintptr_t CFOptionFlags;

typedef const void* (APPLE_CALL *CFDictionaryRetainCallBack)(CFAllocatorRef, const void*);
typedef void (APPLE_CALL *CFDictionaryReleaseCallBack)(CFAllocatorRef, const void*);
typedef CFStringRef (APPLE_CALL *CFDictionaryCopyDescriptionCallBack)(const void*);
typedef uint8_t (APPLE_CALL *CFDictionaryEqualCallBack)(const void*, const void*);
typedef uintptr_t (APPLE_CALL *CFDictionaryHashCallBack)(const void*);

/* Six words: copied by value from CoreFoundation at binding time. */
typedef struct CFDictionaryKeyCallBacks {
    CFIndex version;
    CFDictionaryRetainCallBack retain;
    CFDictionaryReleaseCallBack release;
    CFDictionaryCopyDescriptionCallBack copyDescription;
    CFDictionaryEqualCallBack equal;
    CFDictionaryHashCallBack hash;
} CFDictionaryKeyCallBacks;

/* Five words. */
typedef struct CFDictionaryValueCallBacks {
    CFIndex version;
    CFDictionaryRetainCallBack retain;
    CFDictionaryReleaseCallBack release;
    CFDictionaryCopyDescriptionCallBack copyDescription;
    CFDictionaryEqualCallBack equal;
} CFDictionaryValueCallBacks;

enum {
    kCFNumberSInt8Type = 1,
    kCFNumberSInt32Type = 3,
    kCFNumberLongType = 10,
    kCFNumberLongLongType = 11,
};
#define kCFStringEncodingUTF8 0x08000100u
#define kCFPropertyListBinaryFormat_v1_0 200

typedef void* AMDeviceRef;            /* uint32 connection number at byte offset 16 */
typedef uint32_t AMServiceConnection; /* 0 = none */
typedef void* AFCConnectionRef;
typedef uint64_t AFCFileRef;
typedef void* AFCDirectoryRef;
typedef void* AFCFileInfoRef;
typedef void* ATHostConnectionRef;
typedef void* ATMessageRef;
typedef int32_t AppleResult; /* 0 = success unless the contract says otherwise */

#define AM_DEVICE_CONNECTION_NUMBER_OFFSET 16
enum { AMDeviceEventAttached = 1, AMDeviceEventDetached = 2 };

/* The record a device event points to. */
typedef struct AMDeviceEvent {
    AMDeviceRef device;
    uint32_t kind;
} AMDeviceEvent;

typedef void (APPLE_CALL *AMDeviceEventFunction)(const AMDeviceEvent* event);

#define CHIMEBOX_MOBILEDEVICE_ENTRIES(X) CHIMEBOX_MOBILEDEVICE_CALLED(X) CHIMEBOX_MOBILEDEVICE_UNCALLED(X)
#define CHIMEBOX_COREFOUNDATION_ENTRIES(X) CHIMEBOX_COREFOUNDATION_CALLED(X)
#define CHIMEBOX_AIRTRAFFIC_ENTRIES(X) CHIMEBOX_AIRTRAFFIC_CALLED(X) CHIMEBOX_AIRTRAFFIC_UNCALLED(X)

/* Entry points the program calls. */
#define CHIMEBOX_MOBILEDEVICE_CALLED(X) \
    X(CFStringRef, AMDeviceCopyDeviceIdentifier, (AMDeviceRef device)) \
    X(AppleResult, AMDeviceNotificationSubscribe, (AMDeviceEventFunction callback, uint32_t unused1, uint32_t unused2, void* unused3, void** subscription)) \
    X(AppleResult, AMDeviceConnect, (AMDeviceRef device)) \
    X(AppleResult, AMDeviceIsPaired, (AMDeviceRef device)) \
    X(AppleResult, AMDeviceValidatePairing, (AMDeviceRef device)) \
    X(AppleResult, AMDeviceStartSession, (AMDeviceRef device)) \
    X(AppleResult, AMDeviceStartService, (AMDeviceRef device, CFStringRef service, AMServiceConnection* connection, void* unused)) \
    X(AppleResult, AMDeviceStopSession, (AMDeviceRef device)) \
    X(AppleResult, AMDeviceDisconnect, (AMDeviceRef device)) \
    X(CFTypeRef, AMDeviceCopyValue, (AMDeviceRef device, CFStringRef domain, CFStringRef key)) \
    X(AppleResult, AFCConnectionOpen, (AMServiceConnection service, uint32_t ioTimeout, AFCConnectionRef* connection)) \
    X(AppleResult, AFCConnectionClose, (AFCConnectionRef connection)) \
    X(AppleResult, AFCDirectoryOpen, (AFCConnectionRef connection, const char* path, AFCDirectoryRef* dir)) \
    X(AppleResult, AFCDirectoryRead, (AFCConnectionRef connection, AFCDirectoryRef dir, char** name)) \
    X(AppleResult, AFCDirectoryClose, (AFCConnectionRef connection, AFCDirectoryRef dir)) \
    X(AppleResult, AFCDirectoryCreate, (AFCConnectionRef connection, const char* path)) \
    X(AppleResult, AFCRemovePath, (AFCConnectionRef connection, const char* path)) \
    X(AppleResult, AFCFileRefOpen, (AFCConnectionRef connection, const char* path, uint64_t mode, AFCFileRef* file)) \
    X(AppleResult, AFCFileRefRead, (AFCConnectionRef connection, AFCFileRef file, void* buffer, uint32_t* length)) \
    X(AppleResult, AFCFileRefWrite, (AFCConnectionRef connection, AFCFileRef file, const void* data, uint32_t length)) \
    X(AppleResult, AFCFileRefClose, (AFCConnectionRef connection, AFCFileRef file)) \
    X(AppleResult, AFCFileInfoOpen, (AFCConnectionRef connection, const char* path, AFCFileInfoRef* info)) \
    X(AppleResult, AFCKeyValueRead, (AFCFileInfoRef info, char** key, char** value)) \
    X(AppleResult, AFCKeyValueClose, (AFCFileInfoRef info)) \
    X(AppleResult, AMDeviceStartHouseArrestService, (AMDeviceRef device, CFStringRef bundleId, void* unused1, AMServiceConnection* connection, void* unused2))

/* Bound but never called. */
#define CHIMEBOX_MOBILEDEVICE_UNCALLED(X) \
    X(AppleResult, AMDeviceNotificationUnsubscribe, (void* subscription)) \
    X(AppleResult, AMDevicePair, (AMDeviceRef device)) \
    X(AppleResult, AMDeviceLookupApplications, (AMDeviceRef device, CFDictionaryRef options, CFDictionaryRef* result)) \
    X(AppleResult, AFCRenamePath, (AFCConnectionRef connection, const char* from, const char* to)) \
    X(AppleResult, AFCFileRefSeek, (AFCConnectionRef connection, AFCFileRef file, int64_t offset, uint64_t whence)) \
    X(AppleResult, AMDeviceSecureStartService, (AMDeviceRef device, CFStringRef service, CFDictionaryRef options, void** connection)) \
    X(int32_t, AMDServiceConnectionGetSocket, (void* connection)) \
    X(void*, AMDServiceConnectionGetSecureIOContext, (void* connection))

#define CHIMEBOX_COREFOUNDATION_CALLED(X) \
    X(CFStringRef, __CFStringMakeConstantString, (const char* text)) \
    X(void, CFRelease, (CFTypeRef object)) \
    X(CFNumberRef, CFNumberCreate, (CFAllocatorRef allocator, CFNumberType type, const void* value)) \
    X(CFIndex, CFStringGetLength, (CFStringRef string)) \
    X(uint8_t, CFStringGetCString, (CFStringRef string, char* buffer, CFIndex size, CFStringEncoding encoding)) \
    X(CFStringRef, CFStringCreateWithCString, (CFAllocatorRef allocator, const char* text, CFStringEncoding encoding)) \
    X(CFMutableDictionaryRef, CFDictionaryCreateMutable, (CFAllocatorRef allocator, CFIndex capacity, const CFDictionaryKeyCallBacks* keyCallBacks, const CFDictionaryValueCallBacks* valueCallBacks)) \
    X(void, CFDictionaryAddValue, (CFMutableDictionaryRef dict, const void* key, const void* value)) \
    X(void, CFDictionarySetValue, (CFMutableDictionaryRef dict, const void* key, const void* value)) \
    X(CFMutableArrayRef, CFArrayCreateMutable, (CFAllocatorRef allocator, CFIndex capacity, const void* callBacks)) \
    X(CFDataRef, CFPropertyListCreateData, (CFAllocatorRef allocator, CFTypeRef root, CFPropertyListFormat format, CFOptionFlags options, void** error)) \
    X(const uint8_t*, CFDataGetBytePtr, (CFDataRef data)) \
    X(CFIndex, CFDataGetLength, (CFDataRef data)) \
    X(void, CFArrayAppendValue, (CFMutableArrayRef array, const void* value))

/* Data exports of CoreFoundation, read in this order after the functions. */
#define CHIMEBOX_COREFOUNDATION_DATA(X) \
    X(CFBooleanRef, kCFBooleanFalse) \
    X(CFBooleanRef, kCFBooleanTrue) \
    X(CFDictionaryKeyCallBacks, kCFTypeDictionaryKeyCallBacks) \
    X(CFDictionaryValueCallBacks, kCFTypeDictionaryValueCallBacks)

#define CHIMEBOX_AIRTRAFFIC_CALLED(X) \
    X(ATHostConnectionRef, ATHostConnectionCreateWithLibrary, (CFStringRef libraryId, CFStringRef deviceId, uint32_t unused)) \
    X(AppleResult, ATHostConnectionSendPowerAssertion, (ATHostConnectionRef connection, CFBooleanRef enable)) \
    X(ATMessageRef, ATHostConnectionReadMessage, (ATHostConnectionRef connection)) \
    X(CFStringRef, ATCFMessageGetName, (ATMessageRef message)) \
    X(AppleResult, ATHostConnectionSendSyncRequest, (ATHostConnectionRef connection, CFArrayRef dataclasses, CFDictionaryRef anchors, CFDictionaryRef hostInfo)) \
    X(AppleResult, ATHostConnectionSendMetadataSyncFinished, (ATHostConnectionRef connection, CFDictionaryRef syncTypes, CFDictionaryRef anchors)) \
    X(AppleResult, ATHostConnectionSendFileProgress, (ATHostConnectionRef connection, CFStringRef assetId, CFStringRef dataclass)) \
    X(AppleResult, ATHostConnectionSendAssetCompleted, (ATHostConnectionRef connection, CFStringRef assetId, CFStringRef dataclass, CFStringRef devicePath)) \
    X(AppleResult, ATHostConnectionDestroy, (ATHostConnectionRef connection))

#define CHIMEBOX_AIRTRAFFIC_UNCALLED(X) \
    X(CFTypeRef, ATCFMessageGetParam, (ATMessageRef message, CFStringRef key))

/* One function-pointer type per entry point: name##_fn. */
#define CHIMEBOX_APPLE_FN_TYPE(ret, name, args) typedef ret (APPLE_CALL *name##_fn) args;
CHIMEBOX_MOBILEDEVICE_ENTRIES(CHIMEBOX_APPLE_FN_TYPE)
CHIMEBOX_COREFOUNDATION_ENTRIES(CHIMEBOX_APPLE_FN_TYPE)
CHIMEBOX_AIRTRAFFIC_ENTRIES(CHIMEBOX_APPLE_FN_TYPE)
#undef CHIMEBOX_APPLE_FN_TYPE

#define CHIMEBOX_MOBILEDEVICE_DLL "iTunesMobileDevice.dll"
#define CHIMEBOX_COREFOUNDATION_DLL "CoreFoundation.dll"
#define CHIMEBOX_AIRTRAFFIC_DLL "AirTrafficHost.dll"

#ifdef __cplusplus
}
#endif

#endif

/* The exports of the three simulated Apple libraries, declared for callers that link them directly
 * (the libraries themselves and the tests). The program itself never includes this: it binds the
 * libraries at run time through device/apple_api.h. */
#ifndef CHIMEBOX_PHONESIM_API_H
#define CHIMEBOX_PHONESIM_API_H

#include <stddef.h>
#include <stdint.h>

#include "device/apple_api.h"

#if defined(_WIN32)
#define PHONESIM_DLLEXPORT __declspec(dllexport)
#define PHONESIM_DLLIMPORT __declspec(dllimport)
#else
#define PHONESIM_DLLEXPORT __attribute__((visibility("default")))
#define PHONESIM_DLLIMPORT
#endif

#ifdef PHONESIM_BUILDING_COREFOUNDATION
#define PHONESIM_CF_API PHONESIM_DLLEXPORT
#else
#define PHONESIM_CF_API PHONESIM_DLLIMPORT
#endif
#ifdef PHONESIM_BUILDING_MOBILEDEVICE
#define PHONESIM_MD_API PHONESIM_DLLEXPORT
#else
#define PHONESIM_MD_API PHONESIM_DLLIMPORT
#endif
#ifdef PHONESIM_BUILDING_AIRTRAFFIC
#define PHONESIM_AT_API PHONESIM_DLLEXPORT
#else
#define PHONESIM_AT_API PHONESIM_DLLIMPORT
#endif

#ifdef __cplusplus
extern "C" {
#endif

#define PHONESIM_DECLARE_CF(ret, name, args) PHONESIM_CF_API ret APPLE_CALL name args;
#define PHONESIM_DECLARE_CF_DATA(type, name) PHONESIM_CF_API extern const type name;
#define PHONESIM_DECLARE_MD(ret, name, args) PHONESIM_MD_API ret APPLE_CALL name args;
#define PHONESIM_DECLARE_AT(ret, name, args) PHONESIM_AT_API ret APPLE_CALL name args;
CHIMEBOX_COREFOUNDATION_ENTRIES(PHONESIM_DECLARE_CF)
CHIMEBOX_COREFOUNDATION_DATA(PHONESIM_DECLARE_CF_DATA)
CHIMEBOX_MOBILEDEVICE_ENTRIES(PHONESIM_DECLARE_MD)
CHIMEBOX_AIRTRAFFIC_ENTRIES(PHONESIM_DECLARE_AT)
#undef PHONESIM_DECLARE_CF
#undef PHONESIM_DECLARE_CF_DATA
#undef PHONESIM_DECLARE_MD
#undef PHONESIM_DECLARE_AT

/* Leak counters: objects and handles made by the stand-ins that are still alive. */
typedef struct PhoneSimCounters {
    int64_t cf_objects;      /* CoreFoundation objects (constant strings and booleans aside) */
    int64_t afc_connections; /* open AFC connections */
    int64_t afc_files;       /* open AFC file references */
    int64_t afc_dirs;        /* open AFC directory handles */
    int64_t afc_infos;       /* open AFC file-information handles */
} PhoneSimCounters;

/* CoreFoundation.dll */
PHONESIM_CF_API int64_t PhoneSimLiveCfObjects(void);
/* Writes a compact JSON description of a property-list object (strings, numbers, booleans, data
 * as {"data":"<hex>"}, arrays, dictionaries) into buffer, NUL-terminated and cut to fit size.
 * Returns the full length without the NUL; "null" for none or an unknown object. */
PHONESIM_CF_API size_t PhoneSimCFDescribe(CFTypeRef object, char* buffer, size_t size);

/* iTunesMobileDevice.dll */
PHONESIM_MD_API void PhoneSimGetCounters(PhoneSimCounters* counters);
/* Stops the event thread, forgets subscriptions, the known attach state, service connections and
 * every open AFC handle; existing device records stay allocated but become stale. Must not be
 * called from inside an event callback. */
PHONESIM_MD_API void PhoneSimReset(void);

#ifdef __cplusplus
}
#endif

#endif

/* A stand-in AirTrafficHost.dll that lacks one export: ATHostConnectionDestroy (called by the
 * program) when LACK_CALLED is defined, else ATCFMessageGetParam (never called). Only bound. */
#include "device/apple_api.h"

#ifdef _WIN32
#define EXPORT __declspec(dllexport)
#else
#define EXPORT __attribute__((visibility("default")))
#endif

/* Renaming the lacking entry keeps it out of the export table under its real name. */
#ifdef LACK_CALLED
#define ATHostConnectionDestroy ATHostConnectionDestroy_absent
#else
#define ATCFMessageGetParam ATCFMessageGetParam_absent
#endif

#define DEFINE(ret, name, args) EXPORT ret APPLE_CALL name args { return (ret)0; }
CHIMEBOX_AIRTRAFFIC_ENTRIES(DEFINE)

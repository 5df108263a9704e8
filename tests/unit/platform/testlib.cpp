// One exported C function, found by the library-loading tests through FindExport.
#ifdef _WIN32
#define TESTLIB_EXPORT __declspec(dllexport)
#else
#define TESTLIB_EXPORT __attribute__((visibility("default")))
#endif

extern "C" TESTLIB_EXPORT int PlatformTestLibAnswer(int x) { return 2 * x + 1; }

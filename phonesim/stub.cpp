// An empty library standing in for one of Apple Application Support's helper DLLs: the program
// only pre-loads it. One export so that every toolchain produces a proper export table.
#include "phonesim/phonesim_api.h"

extern "C" PHONESIM_DLLEXPORT int PhoneSimStub(void) { return 0; }

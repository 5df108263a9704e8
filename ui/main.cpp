// chimebox.exe entry point.
#include <windows.h>

#include <cstdlib>

#include "platform/platform.h"
#include "ui/app.h"

int WINAPI wWinMain(HINSTANCE instance, HINSTANCE, PWSTR, int) {
    const int result = theApp.Run(instance);
    // The worker threads are told to quit, never joined: give them one pass to see it and finish
    // the phone operation they are in, then end without destroying the static objects they use.
    platform::SleepMs(300);
    std::_Exit(result);
}

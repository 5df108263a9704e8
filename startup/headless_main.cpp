// chimebox-headless: the program's background work without the window. Its one argument is an
// Apple support root (in place of discovery). Every MSG_UI_NOTIFY code the core would send to the
// window is printed on a line of its own and answered at once. Runs until standard input closes
// or it is asked to stop (SIGTERM / Ctrl-C), then posts the quit messages as the window does.
#include <atomic>
#include <cstdio>
#include <cstdlib>

#include "device/ui_notify.h"
#include "platform/platform.h"
#include "startup/startup.h"

#ifdef _WIN32
#include <windows.h>
#else
#include <csignal>
#include <pthread.h>
#include <unistd.h>
#endif

namespace {

std::atomic<bool> stopping{false};
platform::ThreadId heartbeatWriter = 0;

void PrintNotify(uint32_t code) {
    std::printf("%u\n", static_cast<unsigned>(code));
    std::fflush(stdout);
}

[[noreturn]] void Shutdown() {
    if (!stopping.exchange(true)) {
        PostQuitToAllThreads({heartbeatWriter});
        // Give the threads one pass to see the quit and finish the phone operation they are in.
        platform::SleepMs(300);
        std::fflush(stdout);
        std::_Exit(0);
    }
    for (;;) platform::SleepMs(1000);
}

#ifdef _WIN32
BOOL WINAPI OnConsoleCtrl(DWORD) {
    Shutdown();
}
void WatchStopRequests() { SetConsoleCtrlHandler(OnConsoleCtrl, TRUE); }
#else
sigset_t stopSignals;
void* WaitForStopSignal(void*) {
    int signal = 0;
    sigwait(&stopSignals, &signal);
    Shutdown();
}
// The signals are blocked in every thread and taken by one waiting thread, so shutdown runs
// outside a signal handler.
void BlockStopSignals() {
    sigemptyset(&stopSignals);
    sigaddset(&stopSignals, SIGTERM);
    sigaddset(&stopSignals, SIGINT);
    pthread_sigmask(SIG_BLOCK, &stopSignals, nullptr);
}
void WatchStopRequests() {
    pthread_t thread;
    pthread_create(&thread, nullptr, WaitForStopSignal, nullptr);
    pthread_detach(thread);
}
#endif

}  // namespace

int main(int argc, char** argv) {
    if (argc != 2) {
        std::fprintf(stderr, "usage: chimebox-headless APPLE_SUPPORT_ROOT\n");
        return 2;
    }
#ifndef _WIN32
    BlockStopSignals();
#endif
    std::u16string root = platform::AnsiToUtf16(argv[1]);
#ifdef _WIN32
    if (!root.empty() && root.back() != u'\\' && root.back() != u'/') root += u'\\';
#else
    if (!root.empty() && root.back() != u'/') root += u'/';
#endif
    SetUiNotifySender(PrintNotify);
    StartAppleSupport(root);
    heartbeatWriter = StartHeartbeat();
    WatchStopRequests();
    while (std::fgetc(stdin) != EOF) {
    }
    Shutdown();
}

// Windows for the tests that need real controls. Without a display (Wine without X) no window
// can be created and those tests are skipped.
#pragma once

#include <windows.h>

#include <vector>

#include <gtest/gtest.h>

#include "ui/framework/wnd.h"

// A hidden top-level window that records the MSG_UI_NOTIFY codes it receives.
class NotifyRecorder : public CWnd {
public:
    NotifyRecorder();
    ~NotifyRecorder() override;
    // A hidden static child with the given styles, or none.
    HWND AddStatic(DWORD styles, int id);
    std::vector<WPARAM> codes;

protected:
    LRESULT WindowProc(UINT message, WPARAM wParam, LPARAM lParam) override;
};

#define SKIP_WITHOUT_WINDOWS(window) \
    if (!(window)) GTEST_SKIP() << "no window can be created here (no display)"

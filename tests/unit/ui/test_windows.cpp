#include "tests/unit/ui/test_windows.h"

#include "device/ui_notify.h"

NotifyRecorder::NotifyRecorder() {
    HWND window = CreateWindowExW(0, L"Static", L"", WS_POPUP, 0, 0, 200, 200, nullptr, nullptr,
                                  GetModuleHandleW(nullptr), nullptr);
    if (window) Attach(window);
}

NotifyRecorder::~NotifyRecorder() {
    if (HWND window = m_hWnd) {
        Detach();
        DestroyWindow(window);
    }
}

HWND NotifyRecorder::AddStatic(DWORD styles, int id) {
    if (!m_hWnd) return nullptr;
    return CreateWindowExW(0, L"Static", L"", WS_CHILD | styles, 0, 0, 10, 10, m_hWnd,
                           reinterpret_cast<HMENU>(static_cast<INT_PTR>(id)), GetModuleHandleW(nullptr), nullptr);
}

LRESULT NotifyRecorder::WindowProc(UINT message, WPARAM wParam, LPARAM lParam) {
    if (message == MSG_UI_NOTIFY) {
        codes.push_back(wParam);
        return static_cast<LRESULT>(wParam);
    }
    return CWnd::WindowProc(message, wParam, lParam);
}

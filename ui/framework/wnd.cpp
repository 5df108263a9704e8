#include "ui/framework/wnd.h"

#include <commctrl.h>

namespace {
constexpr UINT_PTR SUBCLASS_ID = 1;
// The bound object, found by window for reflected notifications.
constexpr wchar_t OBJECT_PROPERTY[] = L"Chimebox.CWnd";
}

CWnd::~CWnd() { Detach(); }

CWnd* CWnd::FromHandlePermanent(HWND window) {
    return window ? static_cast<CWnd*>(GetPropW(window, OBJECT_PROPERTY)) : nullptr;
}

bool CWnd::Attach(HWND window) {
    if (!window || m_hWnd || FromHandlePermanent(window)) return false;
    if (!SetPropW(window, OBJECT_PROPERTY, this)) return false;
    if (!SetWindowSubclass(window, SubclassProc, SUBCLASS_ID, reinterpret_cast<DWORD_PTR>(this))) {
        RemovePropW(window, OBJECT_PROPERTY);
        return false;
    }
    m_hWnd = window;
    return true;
}

bool CWnd::SubclassDlgItem(UINT id, CWnd* parent) {
    return parent && Attach(::GetDlgItem(parent->m_hWnd, static_cast<int>(id)));
}

void CWnd::Detach() {
    if (!m_hWnd) return;
    RemoveWindowSubclass(m_hWnd, SubclassProc, SUBCLASS_ID);
    RemovePropW(m_hWnd, OBJECT_PROPERTY);
    m_hWnd = nullptr;
}

LRESULT CWnd::SendMessage(UINT message, WPARAM wParam, LPARAM lParam) const {
    return m_hWnd ? ::SendMessageW(m_hWnd, message, wParam, lParam) : 0;
}

bool CWnd::ModifyStyle(DWORD remove, DWORD add) const {
    if (!m_hWnd) return false;
    const DWORD style = static_cast<DWORD>(GetWindowLongW(m_hWnd, GWL_STYLE));
    const DWORD changed = (style & ~remove) | add;
    if (changed == style) return false;
    SetWindowLongW(m_hWnd, GWL_STYLE, static_cast<LONG>(changed));
    return true;
}

void CWnd::MoveWindow(int x, int y, int width, int height, bool repaint) const {
    if (m_hWnd) ::MoveWindow(m_hWnd, x, y, width, height, repaint ? TRUE : FALSE);
}

void CWnd::ShowWindow(int how) const {
    if (m_hWnd) ::ShowWindow(m_hWnd, how);
}

void CWnd::SetWindowText(const wchar_t* text) const {
    if (m_hWnd) ::SetWindowTextW(m_hWnd, text);
}

void CWnd::SetFont(HFONT font, bool redraw) const {
    SendMessage(WM_SETFONT, reinterpret_cast<WPARAM>(font), redraw ? TRUE : FALSE);
}

void CWnd::Invalidate(bool erase) const {
    if (m_hWnd) InvalidateRect(m_hWnd, nullptr, erase ? TRUE : FALSE);
}

HWND CWnd::GetDlgItem(UINT id) const { return m_hWnd ? ::GetDlgItem(m_hWnd, static_cast<int>(id)) : nullptr; }

LRESULT CWnd::WindowProc(UINT message, WPARAM wParam, LPARAM lParam) {
    if (message == WM_DRAWITEM && lParam) {
        auto* item = reinterpret_cast<DRAWITEMSTRUCT*>(lParam);
        LRESULT result = 0;
        if (item->CtlType != ODT_MENU) {
            if (CWnd* child = FromHandlePermanent(item->hwndItem)) {
                if (child->OnChildNotify(message, wParam, lParam, &result)) return result;
            }
        }
    }
    return Default();
}

bool CWnd::OnChildNotify(UINT, WPARAM, LPARAM, LRESULT*) { return false; }

LRESULT CWnd::Default() {
    // A handler may have destroyed the window (the version prompt's close does).
    if (!defaultTarget_ || !IsWindow(defaultTarget_)) return 0;
    return DefSubclassProc(defaultTarget_, current_.message, current_.wParam, current_.lParam);
}

LRESULT CALLBACK CWnd::SubclassProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam, UINT_PTR,
                                    DWORD_PTR selfData) {
    auto* self = reinterpret_cast<CWnd*>(selfData);
    if (message == WM_NCDESTROY) {
        // The window goes: unbind first so nothing reaches the object afterwards.
        RemoveWindowSubclass(window, SubclassProc, SUBCLASS_ID);
        RemovePropW(window, OBJECT_PROPERTY);
        if (self->m_hWnd == window) self->m_hWnd = nullptr;
        return DefSubclassProc(window, message, wParam, lParam);
    }
    // Nested messages (a handler that sends to its own window) keep their own context.
    const CurrentMessage saved = self->current_;
    const HWND savedTarget = self->defaultTarget_;
    self->current_ = {message, wParam, lParam};
    self->defaultTarget_ = window;
    const LRESULT result = self->WindowProc(message, wParam, lParam);
    self->current_ = saved;
    self->defaultTarget_ = savedTarget;
    return result;
}

void CenterWindowOver(HWND window, HWND over) {
    RECT area{};
    if (over && IsWindowVisible(over) && !IsIconic(over)) {
        GetWindowRect(over, &area);
    } else {
        SystemParametersInfoW(SPI_GETWORKAREA, 0, &area, 0);
    }
    RECT own{};
    GetWindowRect(window, &own);
    const int width = own.right - own.left;
    const int height = own.bottom - own.top;
    const int x = area.left + ((area.right - area.left) - width) / 2;
    const int y = area.top + ((area.bottom - area.top) - height) / 2;
    SetWindowPos(window, nullptr, x, y, 0, 0, SWP_NOSIZE | SWP_NOZORDER | SWP_NOACTIVATE);
}

void SetClientSize(HWND window, int width, int height) {
    RECT frame{0, 0, width, height};
    AdjustWindowRectEx(&frame, static_cast<DWORD>(GetWindowLongW(window, GWL_STYLE)), FALSE,
                       static_cast<DWORD>(GetWindowLongW(window, GWL_EXSTYLE)));
    SetWindowPos(window, nullptr, 0, 0, frame.right - frame.left, frame.bottom - frame.top,
                 SWP_NOMOVE | SWP_NOZORDER | SWP_NOACTIVATE);
}

#include "ui/framework/controls.h"

#include <commctrl.h>

CStatic::~CStatic() {
    if (owned_) DeleteObject(owned_);
}

void CStatic::ShowBitmap(HBITMAP bmp, bool handOver) {
    if (!m_hWnd) {
        if (handOver && bmp) DeleteObject(bmp);
        return;
    }
    const auto previous = reinterpret_cast<HBITMAP>(SendMessage(STM_SETIMAGE, IMAGE_BITMAP, reinterpret_cast<LPARAM>(bmp)));
    if (previous && previous == owned_) DeleteObject(previous);
    owned_ = nullptr;
    const HBITMAP shown = GetBitmap();
    if (shown && shown != bmp) {
        owned_ = shown;  // the control's own copy
        if (handOver) DeleteObject(bmp);
    } else if (handOver) {
        owned_ = bmp;
    }
    // The next picture is drawn over the erased ground, never over the one it replaces.
    Invalidate(true);
}

HBITMAP CStatic::GetBitmap() const {
    return reinterpret_cast<HBITMAP>(SendMessage(STM_GETIMAGE, IMAGE_BITMAP, 0));
}

void CButton::DrawItem(const DRAWITEMSTRUCT&) {}

bool CButton::OnChildNotify(UINT message, WPARAM, LPARAM lParam, LRESULT* result) {
    if (message != WM_DRAWITEM) return false;
    DrawItem(*reinterpret_cast<const DRAWITEMSTRUCT*>(lParam));
    *result = TRUE;
    return true;
}

CToolTipCtrl::~CToolTipCtrl() {
    if (m_hWnd) {
        HWND tip = m_hWnd;
        Detach();
        DestroyWindow(tip);
    }
}

bool CToolTipCtrl::Create(CWnd* owner, DWORD extraStyle) {
    if (m_hWnd || !owner || !owner->m_hWnd) return false;
    HWND tip = CreateWindowExW(0, TOOLTIPS_CLASSW, nullptr, WS_POPUP | extraStyle, CW_USEDEFAULT, CW_USEDEFAULT,
                               CW_USEDEFAULT, CW_USEDEFAULT, owner->m_hWnd, nullptr, GetModuleHandleW(nullptr), nullptr);
    if (!tip) return false;
    owner_ = owner->m_hWnd;
    return Attach(tip);
}

void CToolTipCtrl::Activate(bool active) const { SendMessage(TTM_ACTIVATE, active ? TRUE : FALSE, 0); }

bool CToolTipCtrl::AddTool(const CWnd& tool, const wchar_t* text) const {
    if (!m_hWnd || !tool.m_hWnd) return false;
    TTTOOLINFOW info{};
    info.cbSize = sizeof info;
    info.uFlags = TTF_IDISHWND;
    info.hwnd = owner_;
    info.uId = reinterpret_cast<UINT_PTR>(tool.m_hWnd);
    info.lpszText = const_cast<wchar_t*>(text);
    return SendMessage(TTM_ADDTOOLW, 0, reinterpret_cast<LPARAM>(&info)) != 0;
}

void CToolTipCtrl::RelayEvent(MSG* message) const {
    if (!m_hWnd || !message) return;
    switch (message->message) {
    case WM_MOUSEMOVE:
    case WM_LBUTTONDOWN:
    case WM_LBUTTONUP:
    case WM_RBUTTONDOWN:
    case WM_RBUTTONUP:
    case WM_MBUTTONDOWN:
    case WM_MBUTTONUP:
        SendMessage(TTM_RELAYEVENT, 0, reinterpret_cast<LPARAM>(message));
        break;
    default:
        break;
    }
}

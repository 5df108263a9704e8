#include "ui/image_buttons.h"

#include <commctrl.h>
#include <shellapi.h>

#include "device/ui_notify.h"
#include "ui/skin_images.h"

void OpenPage(const wchar_t* url) {
    ShellExecuteW(nullptr, L"open", url, nullptr, nullptr, SW_SHOWNORMAL);
}

namespace {

LRESULT ShowHandCursor() {
    SetCursor(LoadCursorW(nullptr, IDC_HAND));
    return TRUE;
}

}  // namespace

void CStaticButton::ShowPicture(uint32_t imageId) {
    ShowBitmap(nullptr, false);  // the control lets go of the previous picture
    LoadPngResource(image, static_cast<uint16_t>(imageId));
    ShowBitmap(image, false);
}

LRESULT CStaticButton::WindowProc(UINT message, WPARAM wParam, LPARAM lParam) {
    switch (message) {
    case WM_SETCURSOR:
        return ShowHandCursor();
    case WM_MOUSEMOVE: {
        TRACKMOUSEEVENT track{};
        track.cbSize = sizeof track;
        track.dwFlags = TME_HOVER | TME_LEAVE;
        track.hwndTrack = m_hWnd;
        track.dwHoverTime = 1;
        _TrackMouseEvent(&track);
        break;
    }
    case WM_MOUSEHOVER:
        if (!hovering) {
            hovering = true;
            ShowPicture(hoverImageId);
        }
        break;
    case WM_MOUSELEAVE:
        if (hovering) {
            hovering = false;
            ShowPicture(normalImageId);
        }
        break;
    case WM_LBUTTONUP:
        // Synchronous: the parent has handled the code before the release goes on.
        if (HWND parent = GetParent(m_hWnd)) ::SendMessageW(parent, MSG_UI_NOTIFY, notifyCode, 0);
        break;
    default:
        break;
    }
    return CStatic::WindowProc(message, wParam, lParam);
}

void CCustomButton::MakeOwnerDrawn() const { ModifyStyle(BS_TYPEMASK, BS_OWNERDRAW); }

LRESULT CCustomButton::WindowProc(UINT message, WPARAM wParam, LPARAM lParam) {
    if (message == WM_SETCURSOR) return ShowHandCursor();
    return CButton::WindowProc(message, wParam, lParam);
}

void CCustomButton::DrawItem(const DRAWITEMSTRUCT& item) {
    HDC dc = item.hDC;
    RECT area = item.rcItem;
    if (HBRUSH fill = CreateSolidBrush(fillColor)) {
        FillRect(dc, &area, fill);
        DeleteObject(fill);
    }
    const COLORREF previousColor = SetTextColor(dc, textColor);
    SetBkMode(dc, TRANSPARENT);
    DrawTextW(dc, caption.c_str(), static_cast<int>(caption.size()), &area, DT_CENTER | DT_VCENTER | DT_SINGLELINE);
    SetTextColor(dc, previousColor);
    if (item.itemState & ODS_FOCUS) DrawFocusRect(dc, &item.rcItem);
}

// The skinned windows' own buttons: pictures that act as buttons (CStaticButton) and flat
// owner-drawn push buttons (CCustomButton); and the web pages the buttons stand for.
#pragma once

#include <cstdint>
#include <string>

#include "ui/framework/controls.h"
#include "ui/framework/image.h"

inline constexpr wchar_t ITUNES_DOWNLOAD_URL[] = L"https://www.apple.com.cn/cn/itunes/download/";
inline constexpr wchar_t HELP_PAGE_URL[] = L"http://help.chimebox.cn/HelpNew/helpWin.html";
inline constexpr wchar_t HOME_PAGE_URL[] = L"http://www.chimebox.cn/";

// Opens a page in the user's browser (the shell's "open" verb); failures are ignored.
void OpenPage(const wchar_t* url);

// A picture that shows normalImageId, hoverImageId while the mouse rests on it, the hand
// cursor, and sends MSG_UI_NOTIFY(notifyCode) to its parent when the left button is released
// over it. The control needs SS_NOTIFY to get mouse input.
class CStaticButton : public CStatic {
public:
    uint32_t normalImageId = 0;
    uint32_t hoverImageId = 0;
    bool hovering = false;
    uint32_t notifyCode = 0;
    CImage image;  // the picture loaded by the last hover or leave

protected:
    LRESULT WindowProc(UINT message, WPARAM wParam, LPARAM lParam) override;

private:
    void ShowPicture(uint32_t imageId);
};

// A flat button: one fill colour, a centred caption in one colour, the dotted focus rectangle
// when focused; pressed, hot and disabled look the same. The dialog gives it BS_OWNERDRAW.
class CCustomButton : public CButton {
public:
    std::wstring caption;
    COLORREF fillColor = RGB(255, 255, 255);
    COLORREF textColor = RGB(0, 0, 0);

    // Gives the control the owner-drawn button style.
    void MakeOwnerDrawn() const;

protected:
    LRESULT WindowProc(UINT message, WPARAM wParam, LPARAM lParam) override;
    void DrawItem(const DRAWITEMSTRUCT& item) override;
};

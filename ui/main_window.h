// CChimeboxDlg: the skinned main window. It shows the phone's state, receives MSG_UI_NOTIFY,
// and starts the background work when Apple's support is present.
#pragma once

#include <cstdint>
#include <string>

#include "platform/platform.h"
#include "ui/framework/controls.h"
#include "ui/framework/dialog.h"
#include "ui/framework/image.h"
#include "ui/image_buttons.h"
#include "ui/notify_dispatch.h"
#include "ui/picture_ground.h"
#include "ui/status_display.h"

class CChimeboxDlg : public CDialogEx, private UiNotifyActions {
public:
    CChimeboxDlg();
    ~CChimeboxDlg() override;

    // Relays to the tooltip, consumes Escape, then the standard keyboard handling.
    BOOL PreTranslateMessage(MSG* message) override;

    HICON appIcon = nullptr;
    platform::ThreadId statusUpdaterThread = 0;
    platform::ThreadId heartbeatWriterThread = 0;
    platform::ThreadId itunesWatcherThread = 0;

protected:
    BOOL OnInitDialog() override;
    void DoDataExchange() override;
    LRESULT WindowProc(UINT message, WPARAM wParam, LPARAM lParam) override;
    // The pictures lying on the state picture are drawn over its ground; the rest as usual.
    HBRUSH OnCtlColor(HDC dc, HWND control, UINT kind, HBRUSH baseBrush) override;

private:
    // Initialisation pieces, in the order they run.
    void ApplyPixelLayout();
    void SetupToolTips();
    void CreateStatusFont();
    void SetStatusLineText(const std::u16string& text);
    void SetupCaptionButtons();
    void SetupHelpBar();
    void ShowDownloadTile();
    void StartBackgroundWork(const std::u16string& appleSupportRoot);

    void OnBlinkTimer();
    void OnPaint();
    LRESULT OnHitTest(LPARAM screenPoint);
    // StatusUpdater's changes, carried out on the window's thread.
    LRESULT OnStatusViewRequest(WPARAM operation, LPARAM payload);

    // UiNotifyActions.
    void MinimizeMainWindow() override;
    void CloseMainWindow() override;
    void OpenWebPage(const wchar_t* url) override;
    void RunItunesRunningPrompt() override;
    void RunVersionPrompt() override;

    bool blinkPhase = false;
    UINT_PTR blinkTimer = 0;
    CToolTipCtrl toolTip;
    HFONT statusFont = nullptr;
    CImage stateImageHolder;
    CImage titleImageHolder;
    CImage downloadImageHolder;
    CImage helpImageHolder;
    CImage indicatorImageHolder;
    CStatic titleBar;
    CStatic stateImage;
    CStatic statusLine;
    CStatic supportLine;
    CStatic syncingIndicator;
    CStaticButton minimizeButton;
    CStaticButton closeButton;
    CStaticButton downloadTile;
    CStaticButton helpBar;
    SolidBrush syncingGround;
    SolidBrush helpGround;
};

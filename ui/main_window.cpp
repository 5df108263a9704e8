#include "ui/main_window.h"

#include <atomic>
#include <utility>

#include "device/apple_runtime.h"
#include "device/device_session.h"
#include "device/sync_state.h"
#include "device/ui_notify.h"
#include "res/resource.h"
#include "startup/startup.h"
#include "ui/framework/app.h"
#include "ui/itunes_watcher.h"
#include "ui/layout.h"
#include "ui/prompts.h"
#include "ui/skin_images.h"

namespace {

constexpr int CLIENT_WIDTH = 682;
constexpr int CLIENT_HEIGHT = 525;
constexpr WPARAM ESCAPE_KEY = 27;
constexpr wchar_t WINDOW_TITLE[] = L"晨钟铃声助手";

// StatusUpdater's requests to the window's thread.
constexpr UINT MSG_STATUS_VIEW = WM_APP + 1;
enum StatusViewOperation : WPARAM {
    OP_SHOW_STATE_PICTURE = 1,
    OP_START_BLINKING,
    OP_IS_BLINKING,
    OP_STOP_BLINKING,
    OP_SHOW_SYNCING_LABEL,
    OP_REDRAW_HELP_BAR,
    OP_SET_STATUS_LINE,
};

constexpr PixelRect TITLE_BAR_PLACE{0, 0, 682, 76};
constexpr PixelRect STATE_IMAGE_PLACE{2, 76, 678, 417};
constexpr PixelRect STATUS_LINE_PLACE{2, 492, 398, 31};
constexpr PixelRect SUPPORT_LINE_PLACE{400, 492, 280, 31};
constexpr PixelRect DOWNLOAD_TILE_PLACE{64, 219, 132, 182};
constexpr PixelRect SYNCING_INDICATOR_PLACE{287, 304, 116, 28};
constexpr PixelRect HELP_BAR_PLACE{210, 438, 460, 23};
constexpr PixelRect MINIMIZE_BUTTON_PLACE{612, 7, 25, 25};
constexpr PixelRect CLOSE_BUTTON_PLACE{650, 7, 25, 25};

// The window MSG_UI_NOTIFY goes to; none before initialisation and after destruction.
std::atomic<HWND> notifyTarget{nullptr};

void SendToMainWindow(uint32_t code) {
    if (HWND window = notifyTarget.load()) ::SendMessageW(window, MSG_UI_NOTIFY, code, 0);
}

std::wstring Wide(const std::u16string& text) { return std::wstring(text.begin(), text.end()); }

// ---- StatusUpdater's view of the window ----

// Lives as long as the process, so StatusUpdater may still call it while the window goes at
// shutdown: once the window is gone every request does nothing.
class MainWindowStatusView : public StatusView {
public:
    void ShowStatePicture(uint16_t imageId) override {
        CImage decoded;
        LoadPngResource(decoded, imageId);  // decoded here, on StatusUpdater's thread
        Request(OP_SHOW_STATE_PICTURE, &decoded);
    }
    void StartBlinking() override { Request(OP_START_BLINKING); }
    bool IsBlinking() override { return Request(OP_IS_BLINKING) != 0; }
    void StopBlinking() override { Request(OP_STOP_BLINKING); }
    void ShowSyncingLabel() override { Request(OP_SHOW_SYNCING_LABEL); }
    void RedrawHelpBar() override { Request(OP_REDRAW_HELP_BAR); }
    void SetStatusLine(const std::u16string& text) override { Request(OP_SET_STATUS_LINE, &text); }

private:
    static LRESULT Request(WPARAM operation, const void* payload = nullptr) {
        HWND window = notifyTarget.load();
        return window ? SendMessageW(window, MSG_STATUS_VIEW, operation, reinterpret_cast<LPARAM>(payload)) : 0;
    }
};

MainWindowStatusView mainWindowStatusView;

}  // namespace

CChimeboxDlg::CChimeboxDlg() : CDialogEx(DLG_MAIN) {
    appIcon = static_cast<HICON>(LoadImageW(AfxGetResourceHandle(), MAKEINTRESOURCEW(ICON_MAIN), IMAGE_ICON, 0, 0,
                                            LR_DEFAULTSIZE | LR_SHARED));
}

CChimeboxDlg::~CChimeboxDlg() {
    if (statusFont) DeleteObject(statusFont);
}

void CChimeboxDlg::DoDataExchange() {
    BindControl(CTL_TITLE_BAR, titleBar);
    BindControl(CTL_STATE_IMAGE, stateImage);
    BindControl(CTL_STATUS_LINE, statusLine);
    BindControl(CTL_SUPPORT_LINE, supportLine);
    BindControl(CTL_SYNCING_INDICATOR, syncingIndicator);
    BindControl(CTL_MINIMIZE_BUTTON, minimizeButton);
    BindControl(CTL_CLOSE_BUTTON, closeButton);
    BindControl(CTL_DOWNLOAD_TILE, downloadTile);
    BindControl(CTL_HELP_BAR, helpBar);
}

BOOL CChimeboxDlg::OnInitDialog() {
    CDialogEx::OnInitDialog();
    notifyTarget = m_hWnd;
    SetUiNotifySender(SendToMainWindow);

    SendMessage(WM_SETICON, ICON_BIG, reinterpret_cast<LPARAM>(appIcon));
    SendMessage(WM_SETICON, ICON_SMALL, reinterpret_cast<LPARAM>(appIcon));
    SetWindowText(WINDOW_TITLE);
    ModifyStyle(0, WS_SYSMENU | WS_MINIMIZEBOX);
    ApplyPixelLayout();
    SetupToolTips();

    syncState.connectionState = Waiting;
    syncState.device = nullptr;
    syncState.statusText.Set(STATUS_WAITING_TEXT);
    CreateStatusFont();
    SetStatusLineText(STATUS_LINE_CAPTION + syncState.statusText.Get());

    statusUpdaterThread = heartbeatWriterThread = itunesWatcherThread = 0;
    syncState.connectionState = Waiting;
    blinkTimer = 0;

    SetControlImage(IMG_TITLE_BAR, titleBar, &titleImageHolder);
    SetupCaptionButtons();
    SetupHelpBar();

    const std::u16string appleSupportRoot = FindAppleSupportRoot();
    if (appleSupportRoot.empty()) {
        SetControlImage(IMG_ITUNES_NEEDED, stateImage, &stateImageHolder);
        ShowDownloadTile();
    } else {
        StartBackgroundWork(appleSupportRoot);
    }
    return TRUE;
}

// The template's dialog units come out at other scales under other fonts; the skin is drawn
// for exact pixels, so the window and every control are placed in pixels.
void CChimeboxDlg::ApplyPixelLayout() {
    SetClientSize(m_hWnd, CLIENT_WIDTH, CLIENT_HEIGHT);
    const struct {
        CWnd& control;
        PixelRect place;
    } places[] = {
        {titleBar, TITLE_BAR_PLACE},           {stateImage, STATE_IMAGE_PLACE},
        {statusLine, STATUS_LINE_PLACE},       {supportLine, SUPPORT_LINE_PLACE},
        {downloadTile, DOWNLOAD_TILE_PLACE},   {syncingIndicator, SYNCING_INDICATOR_PLACE},
        {helpBar, HELP_BAR_PLACE},             {minimizeButton, MINIMIZE_BUTTON_PLACE},
        {closeButton, CLOSE_BUTTON_PLACE},
    };
    for (const auto& entry : places) PlaceWindow(entry.control.m_hWnd, entry.place, false);
    // The two large pictures lie beneath everything they overlap and never paint over it.
    for (CStatic* picture : {&stateImage, &titleBar}) {
        picture->ModifyStyle(0, WS_CLIPSIBLINGS);
        SetWindowPos(picture->m_hWnd, HWND_BOTTOM, 0, 0, 0, 0, SWP_NOMOVE | SWP_NOSIZE | SWP_NOACTIVATE);
    }
    CenterWindowOver(m_hWnd, nullptr);
}

void CChimeboxDlg::SetupToolTips() {
    toolTip.Create(this);
    // The tips speak Chinese: they use the window's own font rather than the system's.
    toolTip.SetFont(reinterpret_cast<HFONT>(SendMessage(WM_GETFONT)), false);
    toolTip.Activate(true);
    toolTip.AddTool(minimizeButton, L"最小化");
    toolTip.AddTool(closeButton, L"关闭晨钟铃声助手");
}

void CChimeboxDlg::CreateStatusFont() {
    // 12 points at the screen's resolution.
    HDC screen = GetDC(nullptr);
    const int dpi = screen ? GetDeviceCaps(screen, LOGPIXELSY) : 96;
    if (screen) ReleaseDC(nullptr, screen);
    LOGFONTW font{};
    font.lfHeight = -MulDiv(120, dpi, 720);
    font.lfCharSet = DEFAULT_CHARSET;
    lstrcpynW(font.lfFaceName, L"微软雅黑", LF_FACESIZE);
    statusFont = CreateFontIndirectW(&font);
    statusLine.SetFont(statusFont, true);
    supportLine.SetFont(statusFont, true);
}

void CChimeboxDlg::SetStatusLineText(const std::u16string& text) { statusLine.SetWindowText(Wide(text).c_str()); }

void CChimeboxDlg::SetupCaptionButtons() {
    SetControlImage(IMG_MINIMIZE, minimizeButton, nullptr);
    minimizeButton.hoverImageId = IMG_MINIMIZE_HOVER;
    minimizeButton.normalImageId = IMG_MINIMIZE;
    minimizeButton.notifyCode = NOTIFY_MINIMIZE;
    SetControlImage(IMG_CLOSE, closeButton, nullptr);
    closeButton.hoverImageId = IMG_CLOSE_HOVER;
    closeButton.normalImageId = IMG_CLOSE;
    closeButton.notifyCode = NOTIFY_CLOSE;
}

namespace {

// Places a link picture, shows its normal picture kept in `holder`, and gives it its pictures
// and code.
void ShowLinkButton(CStaticButton& button, PixelRect place, uint16_t normalId, uint16_t hoverId, uint32_t code,
                    CImage& holder) {
    PlaceWindow(button.m_hWnd, place);
    SetControlImage(normalId, button, &holder);
    button.hoverImageId = hoverId;
    button.normalImageId = normalId;
    button.notifyCode = code;
    button.ShowWindow(SW_SHOW);
}

}  // namespace

void CChimeboxDlg::SetupHelpBar() {
    ShowLinkButton(helpBar, HELP_BAR_PLACE, IMG_HELP_BAR, IMG_HELP_BAR_HOVER, NOTIFY_OPEN_HELP, helpImageHolder);
}

void CChimeboxDlg::ShowDownloadTile() {
    ShowLinkButton(downloadTile, DOWNLOAD_TILE_PLACE, IMG_DOWNLOAD_TILE, IMG_DOWNLOAD_TILE_HOVER, NOTIFY_DOWNLOAD_ITUNES,
                   downloadImageHolder);
}

void CChimeboxDlg::StartBackgroundWork(const std::u16string& appleSupportRoot) {
    StartAppleSupport(appleSupportRoot);
    SetControlImage(IMG_NOT_CONNECTED, stateImage, &stateImageHolder);
    statusUpdaterParams.lastState = Waiting;
    statusUpdaterParams.window = &mainWindowStatusView;
    statusUpdaterThread = platform::StartThread(StatusUpdater, &statusUpdaterParams);
    heartbeatWriterThread = StartHeartbeat();
    itunesWatcherThread = platform::StartThread(ItunesWatcher, nullptr);
}

BOOL CChimeboxDlg::PreTranslateMessage(MSG* message) {
    toolTip.RelayEvent(message);
    if (message->wParam == ESCAPE_KEY) return TRUE;
    return CDialogEx::PreTranslateMessage(message);
}

LRESULT CChimeboxDlg::WindowProc(UINT message, WPARAM wParam, LPARAM lParam) {
    switch (message) {
    case MSG_UI_NOTIFY:
        return DispatchUiNotify(wParam, *this);
    case MSG_STATUS_VIEW:
        return OnStatusViewRequest(wParam, lParam);
    case WM_TIMER:
        OnBlinkTimer();
        break;
    case WM_PAINT:
        OnPaint();
        return 0;
    case WM_NCHITTEST:
        return OnHitTest(lParam);
    case WM_QUERYDRAGICON:
        return reinterpret_cast<LRESULT>(appIcon);
    case WM_DESTROY:
        // Senders on other threads find no window from here on.
        if (HWND own = m_hWnd; notifyTarget.compare_exchange_strong(own, nullptr)) SetUiNotifySender(nullptr);
        break;
    default:
        break;
    }
    return CDialogEx::WindowProc(message, wParam, lParam);
}

HBRUSH CChimeboxDlg::OnCtlColor(HDC dc, HWND control, UINT kind, HBRUSH baseBrush) {
    if (kind != CTLCOLOR_STATIC || !control) return baseBrush;
    const struct {
        HWND window;
        PixelRect place;
        SolidBrush& ground;
    } overStatePicture[] = {
        {syncingIndicator.m_hWnd, SYNCING_INDICATOR_PLACE, syncingGround},
        {helpBar.m_hWnd, HELP_BAR_PLACE, helpGround},
    };
    for (const auto& entry : overStatePicture) {
        if (control != entry.window) continue;
        const COLORREF colour = PictureColourAt(stateImageHolder, STATE_IMAGE_PLACE, entry.place.x, entry.place.y);
        if (HBRUSH brush = entry.ground.For(colour)) {
            SetBkColor(dc, colour);
            return brush;
        }
    }
    return baseBrush;
}

void CChimeboxDlg::OnBlinkTimer() {
    SetControlImage(blinkPhase ? IMG_SYNCING_BRIGHT : IMG_SYNCING_FADED, syncingIndicator, &indicatorImageHolder);
    blinkPhase = !blinkPhase;
}

void CChimeboxDlg::OnPaint() {
    if (IsIconic(m_hWnd)) {
        PAINTSTRUCT paint;
        HDC dc = BeginPaint(m_hWnd, &paint);
        SendMessage(WM_ICONERASEBKGND, reinterpret_cast<WPARAM>(dc), 0);
        RECT client;
        GetClientRect(m_hWnd, &client);
        const int iconWidth = GetSystemMetrics(SM_CXICON);
        const int iconHeight = GetSystemMetrics(SM_CYICON);
        DrawIcon(dc, (client.right - iconWidth + 1) / 2, (client.bottom - iconHeight + 1) / 2, appIcon);
        EndPaint(m_hWnd, &paint);
        return;
    }
    // A 1-pixel red frame round a white body; the controls cover the rest.
    PAINTSTRUCT paint;
    HDC dc = BeginPaint(m_hWnd, &paint);
    RECT client;
    GetClientRect(m_hWnd, &client);
    if (HPEN red = CreatePen(PS_SOLID, 1, RGB(255, 0, 0))) {
        HGDIOBJ previousPen = SelectObject(dc, red);
        Rectangle(dc, 0, 0, client.right, client.bottom);
        SelectObject(dc, previousPen);
        DeleteObject(red);
    }
    EndPaint(m_hWnd, &paint);
}

LRESULT CChimeboxDlg::OnHitTest(LPARAM screenPoint) {
    const POINT point{static_cast<short>(LOWORD(screenPoint)), static_cast<short>(HIWORD(screenPoint))};
    RECT titleArea{};
    if (titleBar.m_hWnd && GetWindowRect(titleBar.m_hWnd, &titleArea) && PtInRect(&titleArea, point)) return HTCAPTION;
    return HTNOWHERE;
}

LRESULT CChimeboxDlg::OnStatusViewRequest(WPARAM operation, LPARAM payload) {
    switch (operation) {
    case OP_SHOW_STATE_PICTURE:
        ShowDecodedImage(stateImage, &stateImageHolder, std::move(*reinterpret_cast<CImage*>(payload)));
        // Their ground comes from the state picture.
        syncingIndicator.Invalidate(true);
        helpBar.Invalidate(true);
        return 1;
    case OP_START_BLINKING:
        blinkPhase = true;
        blinkTimer = SetTimer(m_hWnd, BLINK_TIMER_ID, BLINK_PERIOD_MS, nullptr);
        return 1;
    case OP_IS_BLINKING:
        return blinkTimer != 0 ? 1 : 0;
    case OP_STOP_BLINKING:
        KillTimer(m_hWnd, BLINK_TIMER_ID);
        blinkTimer = 0;
        syncingIndicator.ShowWindow(SW_HIDE);
        return 1;
    case OP_SHOW_SYNCING_LABEL:
        PlaceWindow(syncingIndicator.m_hWnd, SYNCING_INDICATOR_PLACE);
        syncingIndicator.ShowWindow(SW_SHOW);
        return 1;
    case OP_REDRAW_HELP_BAR:
        helpBar.Invalidate(true);
        return 1;
    case OP_SET_STATUS_LINE:
        SetStatusLineText(*reinterpret_cast<const std::u16string*>(payload));
        return 1;
    default:
        return 0;
    }
}

// ---- UiNotifyActions ----

void CChimeboxDlg::MinimizeMainWindow() {
    CWinApp* app = AfxGetApp();
    CWnd* main = app && app->m_pMainWnd ? app->m_pMainWnd : this;
    if (main->m_hWnd) ::ShowWindow(main->m_hWnd, SW_MINIMIZE);
}

void CChimeboxDlg::CloseMainWindow() { OnOK(); }

void CChimeboxDlg::OpenWebPage(const wchar_t* url) { OpenPage(url); }

void CChimeboxDlg::RunItunesRunningPrompt() {
    CITunesRunPromptDlg prompt;
    prompt.DoModal();
}

void CChimeboxDlg::RunVersionPrompt() {
    CVersionPromptDlg prompt;
    prompt.DoModal();
}

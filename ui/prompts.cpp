#include "ui/prompts.h"

#include "res/resource.h"
#include "ui/layout.h"

namespace {

constexpr COLORREF WHITE = RGB(255, 255, 255);
constexpr COLORREF PINK = RGB(243, 82, 137);
constexpr COLORREF GREY = RGB(128, 128, 128);
constexpr COLORREF BLACK = RGB(0, 0, 0);
constexpr WPARAM ESCAPE_KEY = 27;

HFONT CreatePromptFontOfHeight(int height) {
    LOGFONTW font{};
    font.lfHeight = height;
    font.lfWeight = FW_BOLD;
    lstrcpynW(font.lfFaceName, L"微软雅黑", LF_FACESIZE);
    return CreateFontIndirectW(&font);
}

std::wstring WindowText(HWND window) {
    const int length = window ? GetWindowTextLengthW(window) : 0;
    if (length <= 0) return {};
    std::wstring text(static_cast<size_t>(length) + 1, L'\0');
    text.resize(static_cast<size_t>(GetWindowTextW(window, text.data(), length + 1)));
    return text;
}

// The etched separator has no id of its own (-1).
HWND FindSeparator(HWND dialog) {
    for (HWND child = GetWindow(dialog, GW_CHILD); child; child = GetWindow(child, GW_HWNDNEXT)) {
        if (static_cast<uint16_t>(GetDlgCtrlID(child)) == 0xFFFF) return child;
    }
    return nullptr;
}

}  // namespace

int WidestLine(HFONT font, const std::wstring& text) {
    HDC dc = CreateCompatibleDC(nullptr);
    if (!dc) return -1;
    HGDIOBJ previous = SelectObject(dc, font);
    int widest = 0;
    bool measured = true;
    for (size_t start = 0; start <= text.size() && measured;) {
        size_t end = text.find(L'\n', start);
        if (end == std::wstring::npos) end = text.size();
        size_t length = end - start;
        if (length > 0 && text[end - 1] == L'\r') --length;
        SIZE extent{};
        if (length > 0) {
            measured = GetTextExtentPoint32W(dc, text.data() + start, static_cast<int>(length), &extent) != FALSE;
        }
        if (extent.cx > widest) widest = extent.cx;
        start = end + 1;
    }
    SelectObject(dc, previous);
    DeleteDC(dc);
    return measured ? widest : -1;
}

HFONT CreatePromptFont(const std::wstring& text, int width) {
    for (int height = PROMPT_FONT_HEIGHT; height > PROMPT_FONT_MIN_HEIGHT; --height) {
        HFONT font = CreatePromptFontOfHeight(height);
        if (!font) return nullptr;
        const int widest = WidestLine(font, text);
        if (widest >= 0 && widest <= width) return font;
        DeleteObject(font);
    }
    return CreatePromptFontOfHeight(PROMPT_FONT_MIN_HEIGHT);
}

CPromptDlg::CPromptDlg(UINT templateId, UINT textId) : CDialogEx(templateId), textId_(textId) {}

CPromptDlg::~CPromptDlg() {
    if (textFont) DeleteObject(textFont);
}

BOOL CPromptDlg::PreTranslateMessage(MSG* message) {
    if (message->wParam == ESCAPE_KEY) return TRUE;
    return CDialogEx::PreTranslateMessage(message);
}

void CPromptDlg::LayOut(int width, int height, const PixelRect* controls, const UINT* ids, size_t count,
                        PixelRect separator) {
    SetClientSize(m_hWnd, width, height);
    int textWidth = width;
    for (size_t i = 0; i < count; ++i) {
        PlaceWindow(GetDlgItem(ids[i]), controls[i]);
        if (ids[i] == textId_) textWidth = controls[i].width;
    }
    if (textFont) DeleteObject(textFont);
    textFont = CreatePromptFont(WindowText(GetDlgItem(textId_)), textWidth);
    PlaceWindow(FindSeparator(m_hWnd), separator);
    // The message is drawn in textFont whichever order the static selects fonts in.
    if (HWND text = GetDlgItem(textId_)) ::SendMessageW(text, WM_SETFONT, reinterpret_cast<WPARAM>(textFont), FALSE);
    HWND owner = GetWindow(m_hWnd, GW_OWNER);
    CenterWindowOver(m_hWnd, owner);
}

HBRUSH CPromptDlg::OnCtlColor(HDC dc, HWND control, UINT kind, HBRUSH baseBrush) {
    if (kind == CTLCOLOR_DLG) return static_cast<HBRUSH>(GetStockObject(WHITE_BRUSH));
    if (control && static_cast<UINT>(GetDlgCtrlID(control)) == textId_) {
        SetTextColor(dc, BLACK);
        if (textFont) SelectObject(dc, textFont);
        SetBkMode(dc, TRANSPARENT);
        return static_cast<HBRUSH>(GetStockObject(WHITE_BRUSH));
    }
    return baseBrush;
}

CITunesRunPromptDlg::CITunesRunPromptDlg() : CPromptDlg(DLG_ITUNES_PROMPT, CTL_ITUNES_TEXT) {}

void CITunesRunPromptDlg::DoDataExchange() { BindControl(IDOK, okButton_); }

BOOL CITunesRunPromptDlg::OnInitDialog() {
    CPromptDlg::OnInitDialog();
    okButton_.MakeOwnerDrawn();
    okButton_.fillColor = WHITE;
    okButton_.textColor = PINK;
    okButton_.caption = L"我知道了";
    const UINT ids[] = {IDOK, CTL_ITUNES_TEXT};
    const PixelRect places[] = {{0, 107, 336, 33}, {18, 31, 298, 43}};
    LayOut(336, 140, places, ids, 2, PixelRect{0, 105, 338, 2});
    return TRUE;
}

CVersionPromptDlg::CVersionPromptDlg() : CPromptDlg(DLG_VERSION_PROMPT, CTL_VERSION_TEXT) {}

void CVersionPromptDlg::DoDataExchange() {
    BindControl(CTL_UPDATE_NOW, updateNowButton_);
    BindControl(CTL_SECOND_CHOICE, secondChoiceButton_);
}

BOOL CVersionPromptDlg::OnInitDialog() {
    CPromptDlg::OnInitDialog();
    updateNowButton_.MakeOwnerDrawn();
    updateNowButton_.caption = L"立即更新";
    updateNowButton_.fillColor = PINK;
    updateNowButton_.textColor = WHITE;
    secondChoiceButton_.MakeOwnerDrawn();
    secondChoiceButton_.caption = L"关闭";
    secondChoiceButton_.fillColor = WHITE;
    secondChoiceButton_.textColor = GREY;
    const UINT ids[] = {CTL_VERSION_TEXT, CTL_UPDATE_NOW, CTL_SECOND_CHOICE};
    const PixelRect places[] = {{18, 40, 298, 34}, {68, 83, 200, 33}, {0, 145, 336, 33}};
    LayOut(336, 178, places, ids, 3, PixelRect{0, 143, 338, 2});
    return TRUE;
}

bool CVersionPromptDlg::OnCommand(UINT id, UINT code) {
    if (code != BN_CLICKED) return false;
    if (id == CTL_UPDATE_NOW) {
        OpenPage(HOME_PAGE_URL);
        return true;
    }
    if (id == CTL_SECOND_CHOICE) {
        // Destroying the main window takes this prompt with it and ends both modal runs.
        if (HWND parent = GetParent(m_hWnd)) DestroyWindow(parent);
        return true;
    }
    return false;
}

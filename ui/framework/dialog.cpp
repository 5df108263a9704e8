#include "ui/framework/dialog.h"

#include "ui/framework/app.h"

CDialogEx::CDialogEx(UINT templateId, CWnd* parent) : templateId_(templateId), parent_(parent) {}

INT_PTR CDialogEx::DoModal() {
    HWND owner = parent_ ? parent_->m_hWnd : nullptr;
    if (!owner) {
        CWinApp* app = AfxGetApp();
        if (app && app->m_pMainWnd && app->m_pMainWnd != this) owner = app->m_pMainWnd->m_hWnd;
    }
    // Only the run that disabled the owner enables it again: prompts can be nested.
    ownerToEnable_ = nullptr;
    if (owner && IsWindowEnabled(owner)) {
        EnableWindow(owner, FALSE);
        ownerToEnable_ = owner;
    }

    ending_ = false;
    result_ = -1;
    HWND window = CreateDialogParamW(AfxGetResourceHandle(), MAKEINTRESOURCEW(templateId_), owner, DialogProc,
                                     reinterpret_cast<LPARAM>(this));
    if (window && m_hWnd && !ending_ && !IsWindowVisible(window)) ::ShowWindow(window, SW_SHOWNORMAL);

    MSG message{};
    running_ = true;
    while (m_hWnd && !ending_) {
        const BOOL got = GetMessageW(&message, nullptr, 0, 0);
        if (got == 0) {
            PostQuitMessage(static_cast<int>(message.wParam));  // for the outer loop
            break;
        }
        if (got == -1) break;
        if (!PreTranslateFor(message.hwnd)->PreTranslateMessage(&message)) {
            TranslateMessage(&message);
            DispatchMessageW(&message);
        }
    }

    running_ = false;
    EnableOwner();
    if (m_hWnd) {
        HWND own = m_hWnd;
        if (owner && GetActiveWindow() == own) SetActiveWindow(owner);
        DestroyWindow(own);
    }
    // An enclosing modal loop may have ended meanwhile (prompts closed out of order) while it
    // waits in GetMessageW under this one: a posted message lets it look again.
    PostMessageW(nullptr, WM_NULL, 0, 0);
    return result_;
}

void CDialogEx::EndDialog(int result) {
    result_ = result;
    ending_ = true;
    if (!m_hWnd) return;
    // The owner is enabled before this dialog hides, so the activation returns to it.
    EnableOwner();
    // Gone from the screen at once, even while a later prompt's loop runs above this one.
    ::ShowWindow(m_hWnd, SW_HIDE);
    // Wakes the loop when the end comes from a message it did not take itself.
    PostMessageW(m_hWnd, WM_NULL, 0, 0);
}

void CDialogEx::EnableOwner() {
    if (ownerToEnable_ && IsWindow(ownerToEnable_)) EnableWindow(ownerToEnable_, TRUE);
    ownerToEnable_ = nullptr;
}

CDialogEx* CDialogEx::PreTranslateFor(HWND target) {
    // Like the framework: the dialog a message is for pre-translates it, whichever loop took it.
    if (target) {
        if (auto* dialog = dynamic_cast<CDialogEx*>(FromHandlePermanent(GetAncestor(target, GA_ROOT)))) return dialog;
    }
    return this;
}

BOOL CDialogEx::PreTranslateMessage(MSG* message) {
    return m_hWnd && IsDialogMessageW(m_hWnd, message);
}

BOOL CDialogEx::OnInitDialog() {
    DoDataExchange();
    return TRUE;
}

void CDialogEx::OnOK() {
    DoDataExchange();
    EndDialog(IDOK);
}

void CDialogEx::OnCancel() { EndDialog(IDCANCEL); }

bool CDialogEx::OnCommand(UINT, UINT) { return false; }

HBRUSH CDialogEx::OnCtlColor(HDC, HWND, UINT, HBRUSH baseBrush) { return baseBrush; }

void CDialogEx::BindControl(UINT id, CWnd& control) {
    if (!control.m_hWnd) control.SubclassDlgItem(id, this);
}

int CtlColorKind(UINT message) {
    switch (message) {
    case WM_CTLCOLORMSGBOX: return CTLCOLOR_MSGBOX;
    case WM_CTLCOLOREDIT: return CTLCOLOR_EDIT;
    case WM_CTLCOLORLISTBOX: return CTLCOLOR_LISTBOX;
    case WM_CTLCOLORBTN: return CTLCOLOR_BTN;
    case WM_CTLCOLORDLG: return CTLCOLOR_DLG;
    case WM_CTLCOLORSCROLLBAR: return CTLCOLOR_SCROLLBAR;
    case WM_CTLCOLORSTATIC: return CTLCOLOR_STATIC;
    default: return -1;
    }
}

LRESULT CDialogEx::WindowProc(UINT message, WPARAM wParam, LPARAM lParam) {
    if (message == WM_COMMAND) {
        const UINT id = LOWORD(wParam);
        const UINT code = HIWORD(wParam);
        if (id == IDOK && (code == BN_CLICKED || lParam == 0)) {
            OnOK();
            return 0;
        }
        if (id == IDCANCEL && (code == BN_CLICKED || lParam == 0)) {
            OnCancel();
            return 0;
        }
        if (OnCommand(id, code)) return 0;
    }
    const int kind = CtlColorKind(message);
    if (kind >= 0) {
        const auto baseBrush = reinterpret_cast<HBRUSH>(Default());
        return reinterpret_cast<LRESULT>(OnCtlColor(reinterpret_cast<HDC>(wParam), reinterpret_cast<HWND>(lParam),
                                                    static_cast<UINT>(kind), baseBrush));
    }
    if (message == WM_DESTROY && running_) {
        // The loop may be waiting in GetMessageW while a sent message destroys the window (the
        // version prompt's close, sent from another thread): a posted message wakes it.
        PostMessageW(nullptr, WM_NULL, 0, 0);
    }
    return CWnd::WindowProc(message, wParam, lParam);
}

INT_PTR CALLBACK CDialogEx::DialogProc(HWND window, UINT message, WPARAM, LPARAM lParam) {
    if (message != WM_INITDIALOG) return FALSE;
    auto* self = reinterpret_cast<CDialogEx*>(lParam);
    if (!self->Attach(window)) return FALSE;
    return self->OnInitDialog();
}

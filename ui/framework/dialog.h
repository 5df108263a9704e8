// Modal dialogs from templates, with our own modal loop so that a dialog sees every message of
// its thread before dispatch (PreTranslateMessage), as the framework's dialogs do.
#pragma once

#include "ui/framework/wnd.h"

class CDialogEx : public CWnd {
public:
    // Without a parent the application's main window (if any, and not this dialog) owns it.
    explicit CDialogEx(UINT templateId, CWnd* parent = nullptr);

    // Creates the dialog, disables its owner, runs until EndDialog or until the window is
    // destroyed, re-enables the owner and destroys the window. The EndDialog result, or -1.
    INT_PTR DoModal();
    // Ends the modal run with a result; the window goes when the loop has returned.
    void EndDialog(int result);

    // Pre-translation of every message the loop takes: true when consumed. The default gives the
    // dialog's standard keyboard handling (IsDialogMessageW).
    virtual BOOL PreTranslateMessage(MSG* message);

protected:
    // Initialisation hook: the base binds the controls (DoDataExchange). True: the platform
    // gives the focus to the default control.
    virtual BOOL OnInitDialog();
    // Binds controls to members by id; called by the base initialisation and by OnOK.
    virtual void DoDataExchange() {}
    virtual void OnOK();
    virtual void OnCancel();
    // WM_COMMAND other than IDOK and IDCANCEL; true when handled.
    virtual bool OnCommand(UINT id, UINT code);
    // Colour query (WM_CTLCOLOR*); baseBrush is the dialog manager's own answer.
    virtual HBRUSH OnCtlColor(HDC dc, HWND control, UINT kind, HBRUSH baseBrush);

    // Binds a control to its member unless it is bound already.
    void BindControl(UINT id, CWnd& control);

    LRESULT WindowProc(UINT message, WPARAM wParam, LPARAM lParam) override;

private:
    // The dialog whose pre-translation a message for `target` gets.
    CDialogEx* PreTranslateFor(HWND target);
    // Enables the owner again if this run disabled it (prompts can be nested: only the run
    // that disabled it does).
    void EnableOwner();
    static INT_PTR CALLBACK DialogProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam);

    UINT templateId_;
    CWnd* parent_;
    HWND ownerToEnable_ = nullptr;
    bool running_ = false;  // the modal loop runs
    bool ending_ = false;
    int result_ = -1;
};

// CTLCOLOR_* kind of a WM_CTLCOLOR* message, or -1.
int CtlColorKind(UINT message);

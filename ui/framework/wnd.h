// Our stand-in for the dialog framework's window classes, over plain Win32. A CWnd object gets
// its window's messages by subclassing (comctl32's SetWindowSubclass), so one mechanism serves
// dialogs and the controls bound to members.
#pragma once

#include <windows.h>

class CWnd {
public:
    CWnd() = default;
    virtual ~CWnd();
    CWnd(const CWnd&) = delete;
    CWnd& operator=(const CWnd&) = delete;

    HWND GetSafeHwnd() const { return m_hWnd; }
    // The object bound to a window by subclassing, or none.
    static CWnd* FromHandlePermanent(HWND window);

    // Binds this object to an existing window; false when already bound or the window is none.
    bool Attach(HWND window);
    bool SubclassDlgItem(UINT id, CWnd* parent);
    // Unbinds without destroying the window.
    void Detach();

    LRESULT SendMessage(UINT message, WPARAM wParam = 0, LPARAM lParam = 0) const;
    bool ModifyStyle(DWORD remove, DWORD add) const;
    void MoveWindow(int x, int y, int width, int height, bool repaint = true) const;
    void ShowWindow(int how) const;
    void SetWindowText(const wchar_t* text) const;
    void SetFont(HFONT font, bool redraw = true) const;
    void Invalidate(bool erase = true) const;
    HWND GetDlgItem(UINT id) const;

    HWND m_hWnd = nullptr;

protected:
    // Every message of the bound window; the default passes it on.
    virtual LRESULT WindowProc(UINT message, WPARAM wParam, LPARAM lParam);
    // A notification that the parent reflects to its child (WM_DRAWITEM); true when handled.
    virtual bool OnChildNotify(UINT message, WPARAM wParam, LPARAM lParam, LRESULT* result);
    // The previous handling of the message being processed.
    LRESULT Default();

private:
    static LRESULT CALLBACK SubclassProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam,
                                         UINT_PTR id, DWORD_PTR self);
    struct CurrentMessage {
        UINT message;
        WPARAM wParam;
        LPARAM lParam;
    };
    CurrentMessage current_{};
    HWND defaultTarget_ = nullptr;  // the window the message being processed went to
};

// Moves a top-level window so that it is centred over another window, or over the screen's
// work area when that window is none or minimised.
void CenterWindowOver(HWND window, HWND over);
// Makes the client area exactly width x height pixels.
void SetClientSize(HWND window, int width, int height);

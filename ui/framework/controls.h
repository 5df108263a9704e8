// Static, button and tooltip controls of the framework stand-in.
#pragma once

#include "ui/framework/wnd.h"

class CStatic : public CWnd {
public:
    ~CStatic() override;

    // Shows a bitmap (none: blank). comctl32 6 keeps its own copy of a bitmap with alpha; that
    // copy is released at the next change. With handOver the control owns bmp from now on and
    // releases it too; otherwise bmp stays the caller's and must outlive its display.
    void ShowBitmap(HBITMAP bmp, bool handOver);
    HBITMAP GetBitmap() const;

private:
    HBITMAP owned_ = nullptr;  // what this control releases at the next change
};

class CButton : public CWnd {
protected:
    // Owner draw, reflected from the parent's WM_DRAWITEM.
    virtual void DrawItem(const DRAWITEMSTRUCT& item);
    bool OnChildNotify(UINT message, WPARAM wParam, LPARAM lParam, LRESULT* result) override;
};

class CToolTipCtrl : public CWnd {
public:
    ~CToolTipCtrl() override;
    bool Create(CWnd* owner, DWORD extraStyle = 0);
    void Activate(bool active) const;
    // A tool covering the whole of a child window, identified by that window.
    bool AddTool(const CWnd& tool, const wchar_t* text) const;
    // Passes a mouse message on so the tip can appear.
    void RelayEvent(MSG* message) const;

private:
    HWND owner_ = nullptr;
};

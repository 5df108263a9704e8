// The two modal prompts: close iTunes first, and a newer desktop program is needed.
#pragma once

#include "ui/framework/dialog.h"
#include "ui/image_buttons.h"
#include "ui/layout.h"

// Shared look: white ground, the message bold black on white, Escape consumed.
class CPromptDlg : public CDialogEx {
public:
    BOOL PreTranslateMessage(MSG* message) override;

protected:
    CPromptDlg(UINT templateId, UINT textId);
    ~CPromptDlg() override;
    // Sizes the prompt to its pixel layout and centres it over its owner; creates textFont.
    void LayOut(int width, int height, const PixelRect* controls, const UINT* ids, size_t count,
                PixelRect separator);
    HBRUSH OnCtlColor(HDC dc, HWND control, UINT kind, HBRUSH baseBrush) override;

    HFONT textFont = nullptr;

private:
    UINT textId_;
};

class CITunesRunPromptDlg : public CPromptDlg {
public:
    CITunesRunPromptDlg();

protected:
    BOOL OnInitDialog() override;
    void DoDataExchange() override;

private:
    CCustomButton okButton_;
};

class CVersionPromptDlg : public CPromptDlg {
public:
    CVersionPromptDlg();

protected:
    BOOL OnInitDialog() override;
    void DoDataExchange() override;
    bool OnCommand(UINT id, UINT code) override;

private:
    CCustomButton updateNowButton_;
    CCustomButton secondChoiceButton_;
};

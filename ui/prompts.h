// The two modal prompts: close iTunes first, and a newer desktop program is needed.
#pragma once

#include <string>

#include "ui/framework/dialog.h"
#include "ui/image_buttons.h"
#include "ui/layout.h"

inline constexpr int PROMPT_FONT_HEIGHT = 23;
inline constexpr int PROMPT_FONT_MIN_HEIGHT = 16;

// The prompts' message font: bold "微软雅黑" of cell height PROMPT_FONT_HEIGHT, or the largest
// smaller height (not below PROMPT_FONT_MIN_HEIGHT) at which every line of `text` fits `width`
// pixels; a substituted face can be wider than the one the layout was made for.
HFONT CreatePromptFont(const std::wstring& text, int width);
// Width in pixels of the widest line ('\n'-separated) of `text` in `font`; -1 when it cannot
// be measured.
int WidestLine(HFONT font, const std::wstring& text);

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

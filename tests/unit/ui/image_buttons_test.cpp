// CStaticButton (picture button) and CCustomButton (flat owner-drawn button) on real controls.
#include <windows.h>

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "tests/unit/ui/test_resources.h"
#include "tests/unit/ui/test_windows.h"
#include "ui/image_buttons.h"

namespace {

SIZE WindowSize(HWND window) {
    RECT r{};
    GetWindowRect(window, &r);
    return SIZE{r.right - r.left, r.bottom - r.top};
}

class StaticButtonTest : public ::testing::Test {
protected:
    void SetUp() override {
        if (!parent.m_hWnd) GTEST_SKIP() << "no window can be created here (no display)";
        ASSERT_TRUE(button.Attach(parent.AddStatic(SS_BITMAP | SS_NOTIFY, 1016)));
        button.normalImageId = PNG_TWO_PIXELS;  // 2 x 1
        button.hoverImageId = PNG_GREEN_3X2;    // 3 x 2
        button.notifyCode = 4;
    }
    NotifyRecorder parent;
    CStaticButton button;
};

struct HoverCase {
    const char* name;
    std::vector<UINT> events;  // WM_MOUSEHOVER / WM_MOUSELEAVE, in order
    bool hovering;
    int shownWidth;  // width of the picture the control shows; 0 = none loaded yet
};

class StaticButtonHoverTest : public StaticButtonTest, public ::testing::WithParamInterface<HoverCase> {};

TEST_P(StaticButtonHoverTest, PictureFollowsTheMouse) {
    const HoverCase& c = GetParam();
    for (UINT event : c.events) button.SendMessage(event);
    EXPECT_EQ(button.hovering, c.hovering);
    EXPECT_EQ(button.image.GetWidth(), c.shownWidth);
    if (c.shownWidth) {
        EXPECT_NE(button.GetBitmap(), nullptr);
        EXPECT_EQ(WindowSize(button.m_hWnd).cx, c.shownWidth);
    }
}

INSTANTIATE_TEST_SUITE_P(
    Sequences, StaticButtonHoverTest,
    ::testing::Values(HoverCase{"Nothing", {}, false, 0},
                      HoverCase{"Hover", {WM_MOUSEHOVER}, true, 3},
                      HoverCase{"HoverLeave", {WM_MOUSEHOVER, WM_MOUSELEAVE}, false, 2},
                      HoverCase{"LeaveWithoutHoverChangesNothing", {WM_MOUSELEAVE}, false, 0},
                      HoverCase{"HoverLeaveHover", {WM_MOUSEHOVER, WM_MOUSELEAVE, WM_MOUSEHOVER}, true, 3}),
    [](const auto& info) { return std::string(info.param.name); });

TEST_F(StaticButtonTest, RepeatedHoverDoesNotReload) {
    button.SendMessage(WM_MOUSEHOVER);
    ASSERT_EQ(button.image.GetWidth(), 3);
    button.hoverImageId = PNG_ABSENT;  // a reload would now blank the control
    button.SendMessage(WM_MOUSEHOVER);
    EXPECT_EQ(button.image.GetWidth(), 3);
    EXPECT_NE(button.GetBitmap(), nullptr);
}

TEST_F(StaticButtonTest, MissingPictureLeavesItBlankButClickable) {
    button.hoverImageId = PNG_ABSENT;
    button.SendMessage(WM_MOUSEHOVER);
    EXPECT_TRUE(button.hovering);
    EXPECT_EQ(button.GetBitmap(), nullptr);
    button.SendMessage(WM_LBUTTONUP, 0, MAKELPARAM(1, 1));
    EXPECT_EQ(parent.codes, std::vector<WPARAM>{4});
}

TEST_F(StaticButtonTest, ReleaseSendsItsCodeToTheParent) {
    button.SendMessage(WM_LBUTTONDOWN, MK_LBUTTON, MAKELPARAM(1, 1));
    EXPECT_TRUE(parent.codes.empty()) << "a press alone is no click";
    button.SendMessage(WM_LBUTTONUP, 0, MAKELPARAM(1, 1));
    button.notifyCode = 3;
    button.SendMessage(WM_LBUTTONUP, 0, MAKELPARAM(1, 1));
    EXPECT_EQ(parent.codes, (std::vector<WPARAM>{4, 3}));
}

TEST_F(StaticButtonTest, HandCursor) {
    EXPECT_EQ(button.SendMessage(WM_SETCURSOR, reinterpret_cast<WPARAM>(button.m_hWnd), MAKELPARAM(HTCLIENT, WM_MOUSEMOVE)),
              TRUE);
    EXPECT_EQ(GetCursor(), LoadCursorW(nullptr, IDC_HAND));
}

// ---- CCustomButton ----

constexpr int FACE_W = 60, FACE_H = 24;

// Draws the button face into a 32-bpp bitmap through the parent's WM_DRAWITEM, as the dialog
// manager asks for it; the face's pixels, row by row (0x00RRGGBB).
std::vector<uint32_t> DrawFace(HWND parent, HWND button, UINT state) {
    BITMAPINFO info{};
    info.bmiHeader = {sizeof info.bmiHeader, FACE_W, -FACE_H, 1, 32, BI_RGB, 0, 0, 0, 0, 0};
    void* bits = nullptr;
    HDC dc = CreateCompatibleDC(nullptr);
    HBITMAP target = CreateDIBSection(dc, &info, DIB_RGB_COLORS, &bits, nullptr, 0);
    HGDIOBJ previous = SelectObject(dc, target);
    DRAWITEMSTRUCT item{};
    item.CtlType = ODT_BUTTON;
    item.CtlID = static_cast<UINT>(GetDlgCtrlID(button));
    item.itemAction = ODA_DRAWENTIRE;
    item.itemState = state;
    item.hwndItem = button;
    item.hDC = dc;
    item.rcItem = {0, 0, FACE_W, FACE_H};
    SendMessageW(parent, WM_DRAWITEM, item.CtlID, reinterpret_cast<LPARAM>(&item));
    GdiFlush();
    std::vector<uint32_t> pixels(static_cast<const uint32_t*>(bits), static_cast<const uint32_t*>(bits) + FACE_W * FACE_H);
    for (uint32_t& p : pixels) p &= 0x00FFFFFF;
    SelectObject(dc, previous);
    DeleteObject(target);
    DeleteDC(dc);
    return pixels;
}

uint32_t Rgb(COLORREF c) { return (GetRValue(c) << 16) | (GetGValue(c) << 8) | GetBValue(c); }

class CustomButtonTest : public ::testing::Test {
protected:
    void SetUp() override {
        if (!parent.m_hWnd) GTEST_SKIP() << "no window can be created here (no display)";
        HWND control = CreateWindowExW(0, L"Button", L"window text", WS_CHILD | BS_PUSHBUTTON, 0, 0, FACE_W, FACE_H,
                                       parent.m_hWnd, reinterpret_cast<HMENU>(1001), GetModuleHandleW(nullptr), nullptr);
        ASSERT_TRUE(button.Attach(control));
        button.MakeOwnerDrawn();
        button.caption = L"立即更新";
        button.fillColor = RGB(243, 82, 137);
        button.textColor = RGB(255, 255, 255);
    }
    NotifyRecorder parent;
    CCustomButton button;
};

TEST_F(CustomButtonTest, FillCaptionAndFocus) {
    EXPECT_EQ(GetWindowLongW(button.m_hWnd, GWL_STYLE) & BS_TYPEMASK, BS_OWNERDRAW);
    const std::vector<uint32_t> plain = DrawFace(parent.m_hWnd, button.m_hWnd, 0);
    const uint32_t fill = Rgb(button.fillColor);
    const uint32_t text = Rgb(button.textColor);
    size_t filled = 0, caption = 0;
    for (uint32_t p : plain) {
        filled += p == fill;
        caption += p == text;
    }
    EXPECT_EQ(plain[0], fill);
    EXPECT_EQ(plain[FACE_W * FACE_H - 1], fill);
    EXPECT_GT(filled, plain.size() / 2);
    EXPECT_GT(caption, 0u) << "the caption is drawn in the text colour";
    // The caption is centred: its ink lies in the middle, left and right margins alike.
    int left = FACE_W, right = -1;
    for (int y = 0; y < FACE_H; ++y)
        for (int x = 0; x < FACE_W; ++x)
            if (plain[y * FACE_W + x] != fill) {
                left = std::min(left, x);
                right = std::max(right, x);
            }
    ASSERT_GE(right, left);
    EXPECT_LE(std::abs(left - (FACE_W - 1 - right)), 3);

    EXPECT_EQ(DrawFace(parent.m_hWnd, button.m_hWnd, ODS_SELECTED), plain) << "pressed looks the same";
    EXPECT_EQ(DrawFace(parent.m_hWnd, button.m_hWnd, ODS_DISABLED), plain) << "disabled looks the same";
    const std::vector<uint32_t> focused = DrawFace(parent.m_hWnd, button.m_hWnd, ODS_FOCUS);
    EXPECT_NE(focused, plain) << "only the focused one has the dotted rectangle";
}

TEST_F(CustomButtonTest, HandCursor) {
    EXPECT_EQ(button.SendMessage(WM_SETCURSOR, reinterpret_cast<WPARAM>(button.m_hWnd), MAKELPARAM(HTCLIENT, WM_MOUSEMOVE)),
              TRUE);
    EXPECT_EQ(GetCursor(), LoadCursorW(nullptr, IDC_HAND));
}

}  // namespace

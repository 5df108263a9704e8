// Decoding the program's PNG resources and showing them in picture controls.
#include <windows.h>

#include <gtest/gtest.h>

#include "tests/unit/ui/test_resources.h"
#include "tests/unit/ui/test_windows.h"
#include "ui/skin_images.h"

namespace {

struct LoadCase {
    const char* what;
    uint16_t id;
    bool result;
    bool decoded;
    int width, height;
};

class LoadPngResourceTest : public ::testing::TestWithParam<LoadCase> {};

TEST_P(LoadPngResourceTest, ResultAndHolder) {
    const LoadCase& c = GetParam();
    CImage holder;
    // A holder that already has a picture is emptied first, whatever follows.
    ASSERT_TRUE(LoadPngResource(holder, PNG_GREEN_3X2));
    ASSERT_FALSE(holder.IsNull());

    EXPECT_EQ(LoadPngResource(holder, c.id), c.result);
    EXPECT_EQ(!holder.IsNull(), c.decoded);
    EXPECT_EQ(holder.GetWidth(), c.width);
    EXPECT_EQ(holder.GetHeight(), c.height);
}

INSTANTIATE_TEST_SUITE_P(Pictures, LoadPngResourceTest,
                         ::testing::Values(LoadCase{"valid", PNG_TWO_PIXELS, true, true, 2, 1},
                                           LoadCase{"absent", PNG_ABSENT, false, false, 0, 0},
                                           LoadCase{"not a picture", PNG_NOT_A_PNG, true, false, 0, 0},
                                           LoadCase{"truncated", PNG_TRUNCATED, true, false, 0, 0},
                                           LoadCase{"empty", PNG_EMPTY, true, false, 0, 0}),
                         [](const auto& info) {
                             std::string name = info.param.what;
                             for (char& ch : name) if (ch == ' ') ch = '_';
                             return name;
                         });

TEST(LoadPngResource, KeepsAlphaWithColoursUnscaled) {
    CImage holder;
    ASSERT_TRUE(LoadPngResource(holder, PNG_TWO_PIXELS));
    ASSERT_FALSE(holder.IsNull());
    // BGRA: opaque red; blue at alpha 128 keeps its full blue, the picture control scales it.
    EXPECT_EQ(holder.GetPixelBgra(0, 0), 0xFFFF0000u);
    EXPECT_EQ(holder.GetPixelBgra(1, 0), 0x800000FFu);
}

struct DecodeResult {
    bool loaded = false;
    int width = 0;
};

DWORD WINAPI DecodeGreen(void* arg) {
    auto* result = static_cast<DecodeResult*>(arg);
    CImage holder;
    result->loaded = LoadPngResource(holder, PNG_GREEN_3X2);
    result->width = holder.GetWidth();
    return 0;
}

TEST(LoadPngResource, DecodesOnAnotherThreadToo) {
    DecodeResult result;
    HANDLE thread = CreateThread(nullptr, 0, DecodeGreen, &result, 0, nullptr);
    ASSERT_NE(thread, nullptr);
    WaitForSingleObject(thread, INFINITE);
    CloseHandle(thread);
    EXPECT_TRUE(result.loaded);
    EXPECT_EQ(result.width, 3);
}

SIZE ControlSize(HWND control) {
    RECT r{};
    GetWindowRect(control, &r);
    return SIZE{r.right - r.left, r.bottom - r.top};
}

TEST(SetControlImage, ControlBecomesPictureOfThatSize) {
    NotifyRecorder parent;
    SKIP_WITHOUT_WINDOWS(parent.m_hWnd);
    CStatic control;
    ASSERT_TRUE(control.Attach(parent.AddStatic(SS_LEFT, 1)));  // a text static at first
    CImage holder;

    SetControlImage(PNG_GREEN_3X2, control, &holder);
    EXPECT_EQ(GetWindowLongW(control.m_hWnd, GWL_STYLE) & SS_TYPEMASK, SS_BITMAP);
    EXPECT_EQ(holder.GetWidth(), 3);
    EXPECT_NE(control.GetBitmap(), nullptr);
    EXPECT_EQ(ControlSize(control.m_hWnd).cx, 3);
    EXPECT_EQ(ControlSize(control.m_hWnd).cy, 2);

    SetControlImage(PNG_TWO_PIXELS, control, &holder);
    EXPECT_EQ(holder.GetWidth(), 2);
    EXPECT_EQ(ControlSize(control.m_hWnd).cx, 2);
    EXPECT_EQ(ControlSize(control.m_hWnd).cy, 1);

    // A picture that cannot be loaded leaves holder and control blank.
    SetControlImage(PNG_ABSENT, control, &holder);
    EXPECT_TRUE(holder.IsNull());
    EXPECT_EQ(control.GetBitmap(), nullptr);
}

// What the control draws: each pixel blended once over the ground of its colour query.
TEST(SetControlImage, HalfTransparentPixelBlendedOnceOverTheGround) {
    NotifyRecorder parent;
    SKIP_WITHOUT_WINDOWS(parent.m_hWnd);
    CStatic control;
    ASSERT_TRUE(control.Attach(parent.AddStatic(SS_BITMAP, 1)));
    CImage holder;
    SetControlImage(PNG_TWO_PIXELS, control, &holder);

    BITMAPINFO info{};
    info.bmiHeader.biSize = sizeof info.bmiHeader;
    info.bmiHeader.biWidth = 2;
    info.bmiHeader.biHeight = -1;
    info.bmiHeader.biPlanes = 1;
    info.bmiHeader.biBitCount = 32;
    info.bmiHeader.biCompression = BI_RGB;
    void* bits = nullptr;
    HDC dc = CreateCompatibleDC(nullptr);
    HBITMAP target = CreateDIBSection(dc, &info, DIB_RGB_COLORS, &bits, nullptr, 0);
    ASSERT_NE(target, nullptr);
    HGDIOBJ previous = SelectObject(dc, target);
    const auto brush = reinterpret_cast<HBRUSH>(SendMessageW(
        parent.m_hWnd, WM_CTLCOLORSTATIC, reinterpret_cast<WPARAM>(dc), reinterpret_cast<LPARAM>(control.m_hWnd)));
    LOGBRUSH ground{};
    ASSERT_EQ(GetObjectW(brush, sizeof ground, &ground), static_cast<int>(sizeof ground));
    ASSERT_EQ(ground.lbStyle, static_cast<UINT>(BS_SOLID));
    SendMessageW(control.m_hWnd, WM_PRINTCLIENT, reinterpret_cast<WPARAM>(dc), PRF_CLIENT);
    GdiFlush();
    const auto* pixels = static_cast<const uint32_t*>(bits);
    const uint32_t red = pixels[0] & 0xFFFFFF;
    const uint32_t half = pixels[1] & 0xFFFFFF;
    SelectObject(dc, previous);
    DeleteObject(target);
    DeleteDC(dc);

    EXPECT_EQ(red, 0xFF0000u);
    const auto blend = [](int picture, int under) { return (picture * 128 + under * 127) / 255; };
    EXPECT_NEAR(static_cast<int>((half >> 16) & 0xFF), blend(0, GetRValue(ground.lbColor)), 2);
    EXPECT_NEAR(static_cast<int>((half >> 8) & 0xFF), blend(0, GetGValue(ground.lbColor)), 2);
    EXPECT_NEAR(static_cast<int>(half & 0xFF), blend(255, GetBValue(ground.lbColor)), 2);
}

TEST(SetControlImage, WithoutHolderTheControlKeepsThePicture) {
    NotifyRecorder parent;
    SKIP_WITHOUT_WINDOWS(parent.m_hWnd);
    CStatic control;
    ASSERT_TRUE(control.Attach(parent.AddStatic(SS_BITMAP, 1)));
    SetControlImage(PNG_GREEN_3X2, control, nullptr);
    const auto shown = control.GetBitmap();
    ASSERT_NE(shown, nullptr);
    BITMAP info{};
    ASSERT_EQ(GetObjectW(shown, sizeof info, &info), static_cast<int>(sizeof info));  // still a live bitmap
    EXPECT_EQ(info.bmWidth, 3);
    EXPECT_EQ(info.bmHeight < 0 ? -info.bmHeight : info.bmHeight, 2);
}

}  // namespace

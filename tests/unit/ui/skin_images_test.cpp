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

TEST(LoadPngResource, KeepsAlphaPremultiplied) {
    CImage holder;
    ASSERT_TRUE(LoadPngResource(holder, PNG_TWO_PIXELS));
    ASSERT_FALSE(holder.IsNull());
    // BGRA: opaque red stays as it is; blue at alpha 128 is scaled by 128/255.
    EXPECT_EQ(holder.GetPixelBgra(0, 0), 0xFFFF0000u);
    const uint32_t blue = holder.GetPixelBgra(1, 0);
    EXPECT_EQ(blue >> 24, 128u);
    EXPECT_NEAR(static_cast<int>(blue & 0xFF), 128, 1);
    EXPECT_EQ((blue >> 8) & 0xFFFF, 0u);
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

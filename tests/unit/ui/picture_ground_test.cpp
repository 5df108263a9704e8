// The ground colour of the pictures that lie on the state picture, and its brush.
#include <windows.h>

#include <gtest/gtest.h>

#include "res/resource.h"
#include "tests/unit/ui/test_resources.h"
#include "ui/picture_ground.h"
#include "ui/skin_images.h"

namespace {

struct GroundCase {
    const char* name;
    uint16_t picture;
    PixelRect place;
    int x, y;
    COLORREF colour;
};

class PictureColourAtTest : public ::testing::TestWithParam<GroundCase> {};

TEST_P(PictureColourAtTest, PlainColourOrInvalid) {
    const GroundCase& c = GetParam();
    CImage picture;
    ASSERT_TRUE(LoadPngResource(picture, c.picture));
    ASSERT_FALSE(picture.IsNull());
    const COLORREF got = PictureColourAt(picture, c.place, c.x, c.y);
    if (c.colour == CLR_INVALID) {
        EXPECT_EQ(got, CLR_INVALID);
        return;
    }
    EXPECT_EQ(got, c.colour) << std::hex << got;
}

// PNG_TWO_PIXELS: opaque red, then blue at alpha 128. The skin cases are the grounds the
// syncing label and the help bar are drawn for.
INSTANTIATE_TEST_SUITE_P(
    Pictures, PictureColourAtTest,
    ::testing::Values(GroundCase{"Opaque", PNG_TWO_PIXELS, {10, 20, 2, 1}, 10, 20, RGB(255, 0, 0)},
                      GroundCase{"HalfTransparent", PNG_TWO_PIXELS, {10, 20, 2, 1}, 11, 20, RGB(0, 0, 255)},
                      GroundCase{"LeftOfIt", PNG_TWO_PIXELS, {10, 20, 2, 1}, 9, 20, CLR_INVALID},
                      GroundCase{"RightOfIt", PNG_TWO_PIXELS, {10, 20, 2, 1}, 12, 20, CLR_INVALID},
                      GroundCase{"Above", PNG_TWO_PIXELS, {10, 20, 2, 1}, 10, 19, CLR_INVALID},
                      GroundCase{"Below", PNG_TWO_PIXELS, {10, 20, 2, 1}, 10, 21, CLR_INVALID},
                      GroundCase{"ConnectedUnderSyncingLabel", IMG_CONNECTED, {2, 76, 678, 417}, 287, 304,
                                 RGB(253, 248, 250)},
                      GroundCase{"NotConnectedUnderHelpBar", IMG_NOT_CONNECTED, {2, 76, 678, 417}, 210, 438,
                                 RGB(250, 250, 250)}),
    [](const auto& info) { return std::string(info.param.name); });

TEST(PictureColourAt, NoPicture) {
    const CImage none;
    EXPECT_EQ(PictureColourAt(none, {0, 0, 10, 10}, 0, 0), CLR_INVALID);
}

COLORREF BrushColour(HBRUSH brush) {
    LOGBRUSH info{};
    EXPECT_EQ(GetObjectW(brush, sizeof info, &info), static_cast<int>(sizeof info));
    EXPECT_EQ(info.lbStyle, static_cast<UINT>(BS_SOLID));
    return info.lbColor;
}

TEST(SolidBrush, FollowsTheColour) {
    SolidBrush ground;
    EXPECT_EQ(ground.For(CLR_INVALID), nullptr);
    HBRUSH first = ground.For(RGB(250, 250, 250));
    ASSERT_NE(first, nullptr);
    EXPECT_EQ(BrushColour(first), RGB(250, 250, 250));
    EXPECT_EQ(ground.For(RGB(250, 250, 250)), first) << "the same colour keeps its brush";
    HBRUSH second = ground.For(RGB(253, 248, 250));
    ASSERT_NE(second, nullptr);
    EXPECT_EQ(BrushColour(second), RGB(253, 248, 250));
}

}  // namespace

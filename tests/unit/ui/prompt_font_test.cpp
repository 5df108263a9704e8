// The prompts' message font shrinks only as far as its text needs to fit the text box.
#include <windows.h>

#include <gtest/gtest.h>

#include <string>

#include "ui/prompts.h"

namespace {

HFONT BoldFont(int height) {
    LOGFONTW font{};
    font.lfHeight = height;
    font.lfWeight = FW_BOLD;
    lstrcpynW(font.lfFaceName, L"微软雅黑", LF_FACESIZE);
    return CreateFontIndirectW(&font);
}

int WidestAt(int height, const std::wstring& text) {
    HFONT font = BoldFont(height);
    const int widest = WidestLine(font, text);
    DeleteObject(font);
    return widest;
}

struct FontCase {
    const char* name;
    std::wstring text;
    int width;
};

class PromptFontTest : public ::testing::TestWithParam<FontCase> {};

TEST_P(PromptFontTest, LargestHeightThatFits) {
    const FontCase& c = GetParam();
    HFONT font = CreatePromptFont(c.text, c.width);
    ASSERT_NE(font, nullptr);
    LOGFONTW chosen{};
    ASSERT_EQ(GetObjectW(font, sizeof chosen, &chosen), static_cast<int>(sizeof chosen));
    EXPECT_EQ(chosen.lfWeight, FW_BOLD);
    EXPECT_STREQ(chosen.lfFaceName, L"微软雅黑");
    const int height = chosen.lfHeight;
    EXPECT_GE(height, PROMPT_FONT_MIN_HEIGHT);
    EXPECT_LE(height, PROMPT_FONT_HEIGHT);
    const int widest = WidestLine(font, c.text);
    ASSERT_GE(widest, 0);
    if (height > PROMPT_FONT_MIN_HEIGHT) {
        EXPECT_LE(widest, c.width) << "height " << height;
    }
    if (height < PROMPT_FONT_HEIGHT) {
        EXPECT_GT(WidestAt(height + 1, c.text), c.width) << "height " << height + 1 << " fits as well";
    }
    DeleteObject(font);
}

// Too wide for 298 pixels at the full height, narrow enough at the smallest.
const std::wstring LONG_LINE = L"请先关闭您的iTunes，再使用晨钟助手吧";

INSTANTIATE_TEST_SUITE_P(
    Texts, PromptFontTest,
    ::testing::Values(FontCase{"Empty", L"", 298}, FontCase{"Short", L"好", 298},
                      FontCase{"ItunesPrompt", L"请先关闭您的iTunes，再使用晨钟助手\n以免同步不成功", 298},
                      FontCase{"VersionPrompt", L"zavu有新版本了，请更新体验", 298},
                      FontCase{"LongLine", LONG_LINE, 298},
                      FontCase{"LongSecondLine", L"好\r\n" + LONG_LINE, 298},
                      FontCase{"Hopeless", LONG_LINE + LONG_LINE + LONG_LINE, 298}),
    [](const auto& info) { return std::string(info.param.name); });

TEST(PromptFont, KeepsTheDescribedHeightWhenTheTextFits) {
    HFONT font = CreatePromptFont(L"好", 298);
    LOGFONTW chosen{};
    GetObjectW(font, sizeof chosen, &chosen);
    EXPECT_EQ(chosen.lfHeight, PROMPT_FONT_HEIGHT);
    DeleteObject(font);
}

TEST(PromptFont, ShrinksALineTooLongForTheBox) {
    ASSERT_GT(WidestAt(PROMPT_FONT_HEIGHT, LONG_LINE), 298) << "the case needs a line too long at full height";
    ASSERT_LE(WidestAt(PROMPT_FONT_MIN_HEIGHT, LONG_LINE), 298) << "and one that fits at the smallest";
    const std::wstring text = L"好\n" + LONG_LINE;
    HFONT font = CreatePromptFont(text, 298);
    LOGFONTW chosen{};
    GetObjectW(font, sizeof chosen, &chosen);
    EXPECT_LT(chosen.lfHeight, PROMPT_FONT_HEIGHT) << "the second line counts too";
    EXPECT_LE(WidestLine(font, text), 298);
    DeleteObject(font);
}

TEST(PromptFont, NeverBelowTheSmallestHeight) {
    HFONT font = CreatePromptFont(LONG_LINE + LONG_LINE + LONG_LINE, 50);
    LOGFONTW chosen{};
    GetObjectW(font, sizeof chosen, &chosen);
    EXPECT_EQ(chosen.lfHeight, PROMPT_FONT_MIN_HEIGHT);
    DeleteObject(font);
}

}  // namespace

// The main window's MSG_UI_NOTIFY dispatch: one action per known code, nothing for the rest.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "device/ui_notify.h"
#include "ui/image_buttons.h"
#include "ui/notify_dispatch.h"

namespace {

class RecordingActions : public UiNotifyActions {
public:
    std::vector<std::wstring> done;
    void MinimizeMainWindow() override { done.push_back(L"minimize"); }
    void CloseMainWindow() override { done.push_back(L"close"); }
    void OpenWebPage(const wchar_t* url) override { done.push_back(std::wstring(L"open ") + url); }
    void RunItunesRunningPrompt() override { done.push_back(L"itunes prompt"); }
    void RunVersionPrompt() override { done.push_back(L"version prompt"); }
};

struct DispatchCase {
    WPARAM code;
    LRESULT result;
    std::wstring action;  // empty: nothing happens
};

class DispatchTest : public ::testing::TestWithParam<DispatchCase> {};

TEST_P(DispatchTest, ActionAndResult) {
    const DispatchCase& c = GetParam();
    RecordingActions actions;
    EXPECT_EQ(DispatchUiNotify(c.code, actions), c.result);
    const std::vector<std::wstring> expected = c.action.empty() ? std::vector<std::wstring>{}
                                                                : std::vector<std::wstring>{c.action};
    EXPECT_EQ(actions.done, expected);
}

INSTANTIATE_TEST_SUITE_P(
    Codes, DispatchTest,
    ::testing::Values(DispatchCase{NOTIFY_MINIMIZE, 1, L"minimize"}, DispatchCase{NOTIFY_CLOSE, 2, L"close"},
                      DispatchCase{NOTIFY_DOWNLOAD_ITUNES, 3, std::wstring(L"open ") + ITUNES_DOWNLOAD_URL},
                      DispatchCase{NOTIFY_OPEN_HELP, 4, std::wstring(L"open ") + HELP_PAGE_URL},
                      DispatchCase{NOTIFY_ITUNES_RUNNING, 80, L"itunes prompt"},
                      DispatchCase{NOTIFY_UPDATE_NEEDED, 99, L"version prompt"}, DispatchCase{0, 0, L""},
                      DispatchCase{5, 0, L""}, DispatchCase{79, 0, L""}, DispatchCase{81, 0, L""},
                      DispatchCase{98, 0, L""}, DispatchCase{100, 0, L""},
                      DispatchCase{0x10001, 0, L""},
                      DispatchCase{~WPARAM{0}, 0, L""}));

TEST(PageAddresses, PathsOfThePagesTheButtonsStandFor) {
    const struct {
        std::wstring url;
        std::wstring path;
    } pages[] = {{ITUNES_DOWNLOAD_URL, L"/cn/itunes/download/"},
                 {HELP_PAGE_URL, L"/HelpNew/helpWin.html"},
                 {HOME_PAGE_URL, L"/"}};
    for (const auto& page : pages) {
        const size_t scheme = page.url.find(L"://");
        ASSERT_NE(scheme, std::wstring::npos) << page.url;
        const size_t pathStart = page.url.find(L'/', scheme + 3);
        ASSERT_NE(pathStart, std::wstring::npos) << page.url;
        EXPECT_GT(pathStart, scheme + 3) << "no host in " << page.url;
        EXPECT_EQ(page.url.substr(pathStart), page.path);
    }
}

}  // namespace

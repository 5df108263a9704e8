// The main window (iTunes-needed mode) and the two prompts, run modally and driven from inside
// their own loop.
#include <windows.h>

#include <gtest/gtest.h>

#include <atomic>
#include <string>
#include <thread>
#include <vector>

#include "device/sync_state.h"
#include "device/ui_notify.h"
#include "platform/platform.h"
#include "res/resource.h"
#include "tests/unit/ui/modal_driver.h"
#include "tests/unit/ui/test_windows.h"
#include "ui/framework/app.h"
#include "ui/main_window.h"
#include "ui/picture_ground.h"
#include "ui/skin_images.h"
#include "ui/prompts.h"
#include "startup/startup.h"

namespace {

bool CanCreateWindows() {
    static const bool can = [] {
        HWND probe = CreateWindowExW(0, L"Static", L"", WS_POPUP, 0, 0, 1, 1, nullptr, nullptr, nullptr, nullptr);
        if (probe) DestroyWindow(probe);
        return probe != nullptr;
    }();
    return can;
}

std::wstring TextOf(HWND window) {
    wchar_t buffer[256] = {};
    GetWindowTextW(window, buffer, 256);
    return buffer;
}

void PostKey(HWND window, WPARAM key) {
    PostMessageW(window, WM_KEYDOWN, key, 1);
    PostMessageW(window, WM_KEYUP, key, 0xC0000001);
}

// Without Apple's support in the registry the main window is in iTunes-needed mode.
class MainWindowTest : public ::testing::Test {
protected:
    void SetUp() override {
        if (!CanCreateWindows()) GTEST_SKIP() << "no window can be created here (no display)";
        ResetSyncStateForTest();
        platform::SetRegistryReader([](std::u16string_view, std::u16string_view) { return std::optional<std::u16string>(); });
    }
    void TearDown() override {
        platform::SetRegistryReader({});
        SetUiNotifySender(nullptr);
        ResetSyncStateForTest();
    }
};

TEST_F(MainWindowTest, ItunesNeededLayout) {
    CChimeboxDlg window;
    const INT_PTR result = RunModalWithSteps(window, {[](CDialogEx& d) {
        HWND w = d.m_hWnd;
        const SIZE client = ClientSize(w);
        EXPECT_EQ(client.cx, 682);
        EXPECT_EQ(client.cy, 525);
        EXPECT_EQ(TextOf(w), L"晨钟铃声助手");
        const LONG style = GetWindowLongW(w, GWL_STYLE);
        EXPECT_TRUE(style & WS_SYSMENU);
        EXPECT_TRUE(style & WS_MINIMIZEBOX);
        EXPECT_FALSE(style & WS_MAXIMIZEBOX);
        EXPECT_FALSE(style & WS_CAPTION);
        const struct {
            UINT id;
            ChildPlace place;
            bool visible;
        } controls[] = {
            {CTL_TITLE_BAR, {0, 0, 682, 76}, true},          {CTL_STATE_IMAGE, {2, 76, 678, 417}, true},
            {CTL_STATUS_LINE, {2, 492, 398, 31}, true},      {CTL_SUPPORT_LINE, {400, 492, 280, 31}, true},
            {CTL_DOWNLOAD_TILE, {64, 219, 132, 182}, true},  {CTL_HELP_BAR, {210, 438, 460, 23}, true},
            {CTL_MINIMIZE_BUTTON, {612, 7, 25, 25}, true},   {CTL_CLOSE_BUTTON, {650, 7, 25, 25}, true},
        };
        for (const auto& c : controls) {
            HWND control = GetDlgItem(w, static_cast<int>(c.id));
            ASSERT_NE(control, nullptr) << c.id;
            const ChildPlace place = PlaceOf(control);
            EXPECT_EQ(place, c.place) << "control " << c.id << " at " << place.x << "," << place.y << " "
                                      << place.width << "x" << place.height;
            EXPECT_EQ(IsWindowVisible(control) != FALSE, c.visible) << c.id;
        }
        EXPECT_FALSE(IsWindowVisible(GetDlgItem(w, CTL_SYNCING_INDICATOR)));
        EXPECT_EQ(TextOf(GetDlgItem(w, CTL_STATUS_LINE)), L"   连接状态：等待设备接入");
        // The state picture lies beneath the tile and the help bar.
        for (UINT above : {CTL_DOWNLOAD_TILE, CTL_HELP_BAR, CTL_SYNCING_INDICATOR}) {
            bool found = false;
            for (HWND h = GetDlgItem(w, CTL_STATE_IMAGE); h; h = GetWindow(h, GW_HWNDPREV))
                found = found || h == GetDlgItem(w, static_cast<int>(above));
            EXPECT_TRUE(found) << above << " is not above the state picture";
        }
        d.EndDialog(IDOK);
    }});
    EXPECT_EQ(result, IDOK);
    EXPECT_EQ(window.statusUpdaterThread, 0u);
    EXPECT_EQ(window.heartbeatWriterThread, 0u);
    EXPECT_EQ(window.itunesWatcherThread, 0u);
    EXPECT_EQ(syncState.connectionState.load(), Waiting);
}

TEST_F(MainWindowTest, PicturesOnTheStatePictureTakeItsGround) {
    CImage statePicture;
    ASSERT_TRUE(LoadPngResource(statePicture, IMG_ITUNES_NEEDED));
    CChimeboxDlg window;
    RunModalWithSteps(window, {[&](CDialogEx& d) {
        const struct {
            UINT id;
            bool onStatePicture;
        } controls[] = {{CTL_HELP_BAR, true}, {CTL_SYNCING_INDICATOR, true}, {CTL_STATUS_LINE, false},
                        {CTL_SUPPORT_LINE, false}};
        for (const auto& c : controls) {
            HWND control = GetDlgItem(d.m_hWnd, static_cast<int>(c.id));
            ASSERT_NE(control, nullptr) << c.id;
            const ChildPlace place = PlaceOf(control);
            const COLORREF ground = PictureColourAt(statePicture, {2, 76, 678, 417}, place.x, place.y);
            ASSERT_NE(ground, CLR_INVALID) << c.id;
            HDC dc = GetDC(control);
            const auto brush = reinterpret_cast<HBRUSH>(SendMessageW(
                d.m_hWnd, WM_CTLCOLORSTATIC, reinterpret_cast<WPARAM>(dc), reinterpret_cast<LPARAM>(control)));
            ReleaseDC(control, dc);
            LOGBRUSH info{};
            const bool solid = brush && GetObjectW(brush, sizeof info, &info) == sizeof info && info.lbStyle == BS_SOLID;
            if (c.onStatePicture) {
                ASSERT_TRUE(solid) << c.id;
                EXPECT_EQ(info.lbColor, ground) << c.id;
            } else {
                EXPECT_FALSE(solid && info.lbColor == ground) << c.id << " keeps the dialog's colours";
            }
        }
        d.EndDialog(IDOK);
    }});
}

TEST_F(MainWindowTest, HitTestDragsOnlyOnTheTitleBar) {
    CChimeboxDlg window;
    RunModalWithSteps(window, {[](CDialogEx& d) {
        const struct {
            POINT client;
            LRESULT hit;
        } points[] = {{{5, 5}, HTCAPTION},   {{681, 75}, HTCAPTION}, {{300, 40}, HTCAPTION},
                      {{300, 200}, HTNOWHERE}, {{100, 500}, HTNOWHERE}, {{0, 524}, HTNOWHERE}};
        for (const auto& p : points) {
            POINT screen = p.client;
            ClientToScreen(d.m_hWnd, &screen);
            EXPECT_EQ(SendMessageW(d.m_hWnd, WM_NCHITTEST, 0, MAKELPARAM(screen.x, screen.y)), p.hit)
                << p.client.x << "," << p.client.y;
        }
        d.EndDialog(IDOK);
    }});
}

struct CloseCase {
    const char* name;
    std::vector<ModalStep> steps;
    INT_PTR result;
};

class MainWindowCloseTest : public MainWindowTest, public ::testing::WithParamInterface<CloseCase> {};

TEST_P(MainWindowCloseTest, EndsTheModalRun) {
    CChimeboxDlg window;
    EXPECT_EQ(RunModalWithSteps(window, GetParam().steps), GetParam().result);
}

ModalStep Key(WPARAM key) {
    return [key](CDialogEx& d) { PostKey(d.m_hWnd, key); };
}
ModalStep Notify(WPARAM code, LRESULT expected) {
    return [code, expected](CDialogEx& d) { EXPECT_EQ(SendMessageW(d.m_hWnd, MSG_UI_NOTIFY, code, 0), expected); };
}
ModalStep Wait() {
    return [](CDialogEx&) {};
}

INSTANTIATE_TEST_SUITE_P(
    Ways, MainWindowCloseTest,
    ::testing::Values(
        CloseCase{"CloseButtonCode", {Notify(NOTIFY_CLOSE, NOTIFY_CLOSE)}, IDOK},
        CloseCase{"Enter", {Key(VK_RETURN)}, IDOK},
        CloseCase{"AltF4", {[](CDialogEx& d) { PostMessageW(d.m_hWnd, WM_CLOSE, 0, 0); }}, IDCANCEL},
        CloseCase{"SystemMenuClose", {[](CDialogEx& d) { PostMessageW(d.m_hWnd, WM_SYSCOMMAND, SC_CLOSE, 0); }},
                  IDCANCEL},
        // Escape and unknown codes change nothing: the run only ends at the close code after them.
        CloseCase{"EscapeIgnored", {Key(VK_ESCAPE), Wait(), Wait(), Notify(NOTIFY_CLOSE, NOTIFY_CLOSE)}, IDOK},
        CloseCase{"UnknownCodes",
                  {Notify(0, 0), Notify(5, 0), Notify(100, 0), Notify(12345, 0), Wait(), Notify(NOTIFY_CLOSE, 2)},
                  IDOK},
        CloseCase{"DestroyedWindow", {[](CDialogEx& d) { DestroyWindow(d.m_hWnd); }}, -1}),
    [](const auto& info) { return std::string(info.param.name); });

struct PromptSearch {
    HWND owner;
    HWND found;
};

BOOL CALLBACK MatchOwnedPrompt(HWND window, LPARAM arg) {
    auto* search = reinterpret_cast<PromptSearch*>(arg);
    if (GetWindow(window, GW_OWNER) == search->owner && IsWindowVisible(window)) {
        wchar_t name[16] = {};
        GetClassNameW(window, name, 16);
        if (std::wstring(name) == L"#32770") search->found = window;
    }
    return search->found == nullptr;
}

// A visible dialog of this thread owned by `owner`, or none.
HWND FindOwnedPrompt(HWND owner) {
    PromptSearch search{owner, nullptr};
    EnumThreadWindows(GetCurrentThreadId(), MatchOwnedPrompt, reinterpret_cast<LPARAM>(&search));
    return search.found;
}

// The version prompt arrives from another thread, as the device-event thread sends it, and its
// second button ends the main window's run even though that run is inside a sent message.
TEST_F(MainWindowTest, VersionPromptSecondChoiceEndsTheProgram) {
    CChimeboxDlg window;
    CWinApp app;
    app.m_pMainWnd = &window;
    std::thread sender;
    std::atomic<bool> senderReturned{false};
    const INT_PTR result = RunModalWithSteps(
        window, {[&](CDialogEx&) {
                     sender = std::thread([&] {
                         SendUiNotify(NOTIFY_UPDATE_NEEDED);
                         senderReturned = true;
                     });
                 },
                 Wait(),
                 [](CDialogEx& d) {
                     HWND prompt = FindOwnedPrompt(d.m_hWnd);
                     ASSERT_NE(prompt, nullptr) << "the version prompt is not open";
                     EXPECT_NE(GetDlgItem(prompt, CTL_UPDATE_NOW), nullptr);
                     EXPECT_FALSE(IsWindowEnabled(d.m_hWnd));
                     SendMessageW(prompt, WM_COMMAND, MAKEWPARAM(CTL_SECOND_CHOICE, BN_CLICKED),
                                  reinterpret_cast<LPARAM>(GetDlgItem(prompt, CTL_SECOND_CHOICE)));
                 }});
    if (sender.joinable()) sender.join();
    EXPECT_EQ(result, -1) << "the run must end at once when the window is destroyed";
    EXPECT_EQ(window.m_hWnd, nullptr);
    EXPECT_TRUE(senderReturned);
}

HWND FindPromptWith(HWND owner, UINT controlId) {
    for (HWND prompt = GetWindow(GetDesktopWindow(), GW_CHILD); prompt; prompt = GetWindow(prompt, GW_HWNDNEXT)) {
        if (GetWindow(prompt, GW_OWNER) == owner && GetDlgItem(prompt, static_cast<int>(controlId))) return prompt;
    }
    return nullptr;
}

void Click(HWND prompt, UINT id) {
    SendMessageW(prompt, WM_COMMAND, MAKEWPARAM(id, BN_CLICKED), reinterpret_cast<LPARAM>(GetDlgItem(prompt, static_cast<int>(id))));
}

// The close-iTunes prompt opens over the version prompt; the one beneath is closed first and
// both senders get their answer as soon as each prompt is closed.
TEST_F(MainWindowTest, TwoPromptsCloseIndependently) {
    CChimeboxDlg window;
    CWinApp app;
    app.m_pMainWnd = &window;
    std::thread versionSender, itunesSender, closer;
    std::atomic<bool> versionAnswered{false}, itunesAnswered{false};
    HWND version = nullptr, itunes = nullptr;
    const INT_PTR result = RunModalWithSteps(
        window,
        {[&](CDialogEx&) {
             versionSender = std::thread([&] {
                 SendUiNotify(NOTIFY_UPDATE_NEEDED);
                 versionAnswered = true;
             });
         },
         Wait(),
         [&](CDialogEx&) {
             itunesSender = std::thread([&] {
                 SendUiNotify(NOTIFY_ITUNES_RUNNING);
                 itunesAnswered = true;
             });
         },
         Wait(),
         [&](CDialogEx& d) {
             version = FindPromptWith(d.m_hWnd, CTL_UPDATE_NOW);
             itunes = FindPromptWith(d.m_hWnd, CTL_ITUNES_TEXT);
             ASSERT_NE(version, nullptr);
             ASSERT_NE(itunes, nullptr);
             EXPECT_TRUE(IsWindowVisible(version));
             EXPECT_TRUE(IsWindowVisible(itunes));
             Click(version, IDOK);  // the lower one first
         },
         Wait(),
         [&](CDialogEx& d) {
             EXPECT_FALSE(IsWindowVisible(version)) << "the closed prompt is gone from the screen";
             EXPECT_TRUE(IsWindowVisible(itunes));
             EXPECT_FALSE(itunesAnswered);
             // Once the version prompt's sender has its answer the window is closed from outside.
             HWND main = d.m_hWnd;
             closer = std::thread([&versionSender, main] {
                 versionSender.join();
                 SendMessageW(main, MSG_UI_NOTIFY, NOTIFY_CLOSE, 0);
             });
             Click(itunes, IDOK);
         }});
    if (closer.joinable()) closer.join();
    if (itunesSender.joinable()) itunesSender.join();
    EXPECT_EQ(result, IDOK) << "a prompt's run stayed stuck after the prompt above it closed";
    EXPECT_TRUE(versionAnswered);
    EXPECT_TRUE(itunesAnswered);
}

// Apple's support found but its libraries missing: the binders fail, the not-connected picture
// shows and the three threads run; StatusUpdater then carries every state into the window.
class MainWindowFailingBinderTest : public MainWindowTest {
protected:
    void SetUp() override {
        MainWindowTest::SetUp();
        if (IsSkipped()) return;
        platform::SetRegistryReader([](std::u16string_view, std::u16string_view value) {
            return std::optional<std::u16string>(value == u"InstallDir" ? u"Z:\\no-such-apple-support\\Mobile Device Support\\"
                                                                        : u"C:\\iTunes\\iTunes.exe");
        });
    }
};

void Append(std::vector<ModalStep>& steps, int waits) {
    for (int i = 0; i < waits; ++i) steps.push_back(Wait());
}

HWND Item(CDialogEx& d, UINT id) { return GetDlgItem(d.m_hWnd, static_cast<int>(id)); }

HBITMAP Shown(HWND picture) { return reinterpret_cast<HBITMAP>(SendMessageW(picture, STM_GETIMAGE, IMAGE_BITMAP, 0)); }

TEST_F(MainWindowFailingBinderTest, StatusUpdaterDrivesTheWindow) {
    CChimeboxDlg window;
    std::vector<ModalStep> steps;
    steps.push_back([](CDialogEx& d) {
        EXPECT_FALSE(IsWindowVisible(Item(d, CTL_DOWNLOAD_TILE)));
        EXPECT_NE(Shown(Item(d, CTL_STATE_IMAGE)), nullptr);
        EXPECT_FALSE(IsWindowVisible(Item(d, CTL_SYNCING_INDICATOR)));
        syncState.statusText.Set(u"小明的iPhone");
        syncState.connectionState = Connected;
    });
    Append(steps, 8);
    steps.push_back([](CDialogEx& d) {
        EXPECT_EQ(TextOf(Item(d, CTL_STATUS_LINE)), L"   连接状态：小明的iPhone");
        EXPECT_FALSE(IsWindowVisible(Item(d, CTL_SYNCING_INDICATOR)));
        syncState.connectionState = Syncing;
    });
    Append(steps, 8);
    steps.push_back([](CDialogEx& d) {
        HWND label = Item(d, CTL_SYNCING_INDICATOR);
        EXPECT_TRUE(IsWindowVisible(label));
        EXPECT_EQ(PlaceOf(label), (ChildPlace{287, 304, 116, 28}));
    });
    Append(steps, 12);  // past the first blink tick
    steps.push_back([](CDialogEx& d) {
        EXPECT_NE(Shown(Item(d, CTL_SYNCING_INDICATOR)), nullptr) << "the blink timer shows the label's picture";
        syncState.connectionState = Waiting;
    });
    Append(steps, 8);
    steps.push_back([](CDialogEx& d) {
        EXPECT_FALSE(IsWindowVisible(Item(d, CTL_SYNCING_INDICATOR)));
        EXPECT_EQ(TextOf(Item(d, CTL_STATUS_LINE)), L"   连接状态：等待设备接入");
        EXPECT_EQ(syncState.statusText.Get(), u"等待设备接入");
        d.EndDialog(IDOK);
    });
    EXPECT_EQ(RunModalWithSteps(window, steps), IDOK);
    EXPECT_NE(window.statusUpdaterThread, 0u);
    EXPECT_NE(window.heartbeatWriterThread, 0u);
    EXPECT_NE(window.itunesWatcherThread, 0u);
    PostQuitToAllThreads({window.statusUpdaterThread, window.heartbeatWriterThread, window.itunesWatcherThread});
    platform::SleepMs(1200);  // every thread has seen its quit
    for (platform::ThreadId thread : {window.statusUpdaterThread, window.heartbeatWriterThread, window.itunesWatcherThread})
        EXPECT_FALSE(platform::PostToThread(thread, platform::MSG_THREAD_QUIT)) << "thread " << thread << " still runs";
}

TEST_F(MainWindowTest, MinimizeCode) {
    CChimeboxDlg window;
    RunModalWithSteps(window, {Notify(NOTIFY_MINIMIZE, NOTIFY_MINIMIZE), [](CDialogEx& d) {
                                   EXPECT_TRUE(IsIconic(d.m_hWnd));
                                   d.EndDialog(IDOK);
                               }});
}

// ---- Prompts ----

class PromptTest : public ::testing::Test {
protected:
    void SetUp() override {
        if (!CanCreateWindows()) GTEST_SKIP() << "no window can be created here (no display)";
        app.m_pMainWnd = &owner;
        ShowWindow(owner.m_hWnd, SW_SHOWNA);
    }
    CWinApp app;  // the prompts' owner is the application's main window
    NotifyRecorder owner;
};

struct PromptLayoutCase {
    const char* name;
    bool version;
    SIZE client;
    std::vector<std::pair<UINT, ChildPlace>> controls;
};

class PromptLayoutTest : public PromptTest, public ::testing::WithParamInterface<PromptLayoutCase> {};

TEST_P(PromptLayoutTest, PixelsOwnerAndKeys) {
    const PromptLayoutCase& c = GetParam();
    CITunesRunPromptDlg itunes;
    CVersionPromptDlg version;
    CDialogEx& prompt = c.version ? static_cast<CDialogEx&>(version) : itunes;
    HWND ownerWindow = owner.m_hWnd;
    const INT_PTR result = RunModalWithSteps(
        prompt, {[&](CDialogEx& d) {
                     const SIZE client = ClientSize(d.m_hWnd);
                     EXPECT_EQ(client.cx, c.client.cx);
                     EXPECT_EQ(client.cy, c.client.cy);
                     for (const auto& [id, place] : c.controls) {
                         HWND control = GetDlgItem(d.m_hWnd, static_cast<int>(id));
                         ASSERT_NE(control, nullptr) << id;
                         EXPECT_EQ(PlaceOf(control), place) << id;
                     }
                     EXPECT_EQ(GetWindow(d.m_hWnd, GW_OWNER), ownerWindow);
                     EXPECT_FALSE(IsWindowEnabled(ownerWindow)) << "the owner is disabled while the prompt runs";
                     EXPECT_TRUE(IsWindowVisible(d.m_hWnd));
                     PostKey(d.m_hWnd, VK_ESCAPE);
                 },
                 Wait(), [](CDialogEx& d) { PostKey(d.m_hWnd, VK_RETURN); }});
    EXPECT_EQ(result, IDOK) << "Escape must not close it, Enter must";
    EXPECT_TRUE(IsWindowEnabled(ownerWindow));
}

INSTANTIATE_TEST_SUITE_P(
    Prompts, PromptLayoutTest,
    ::testing::Values(PromptLayoutCase{"ItunesRunning", false, {336, 140},
                                       {{IDOK, {0, 107, 336, 33}}, {CTL_ITUNES_TEXT, {18, 31, 298, 43}}}},
                      PromptLayoutCase{"Version", true, {336, 178},
                                       {{CTL_VERSION_TEXT, {18, 40, 298, 34}},
                                        {CTL_UPDATE_NOW, {68, 83, 200, 33}},
                                        {CTL_SECOND_CHOICE, {0, 145, 336, 33}}}}),
    [](const auto& info) { return std::string(info.param.name); });

TEST_F(PromptTest, VersionPromptSecondChoiceDestroysTheOwner) {
    CVersionPromptDlg prompt;
    const INT_PTR result = RunModalWithSteps(prompt, {[](CDialogEx& d) {
        HWND button = GetDlgItem(d.m_hWnd, CTL_SECOND_CHOICE);
        SendMessageW(d.m_hWnd, WM_COMMAND, MAKEWPARAM(CTL_SECOND_CHOICE, BN_CLICKED), reinterpret_cast<LPARAM>(button));
    }});
    EXPECT_EQ(result, -1) << "ended by destruction, not by EndDialog";
    EXPECT_EQ(owner.m_hWnd, nullptr) << "the owner window is gone";
    EXPECT_EQ(prompt.m_hWnd, nullptr);
}

TEST_F(PromptTest, PromptTextIsBoldBlackOnWhite) {
    CITunesRunPromptDlg prompt;
    RunModalWithSteps(prompt, {[](CDialogEx& d) {
        HWND text = GetDlgItem(d.m_hWnd, CTL_ITUNES_TEXT);
        HDC dc = GetDC(text);
        const auto brush = reinterpret_cast<HBRUSH>(
            SendMessageW(d.m_hWnd, WM_CTLCOLORSTATIC, reinterpret_cast<WPARAM>(dc), reinterpret_cast<LPARAM>(text)));
        EXPECT_EQ(brush, GetStockObject(WHITE_BRUSH));
        EXPECT_EQ(GetTextColor(dc), RGB(0, 0, 0));
        EXPECT_EQ(GetBkMode(dc), TRANSPARENT);
        LOGFONTW font{};
        GetObjectW(GetCurrentObject(dc, OBJ_FONT), sizeof font, &font);
        // The described height unless the line is too wide for the box in this system's face.
        HFONT full = CreatePromptFont(L"", 298);
        const bool fitsAtFullHeight = WidestLine(full, TextOf(text)) <= 298;
        DeleteObject(full);
        if (fitsAtFullHeight) {
            EXPECT_EQ(font.lfHeight, 23);
        } else {
            EXPECT_LT(font.lfHeight, 23);
            EXPECT_LE(WidestLine(reinterpret_cast<HFONT>(GetCurrentObject(dc, OBJ_FONT)), TextOf(text)), 298);
        }
        EXPECT_EQ(font.lfWeight, FW_BOLD);
        EXPECT_STREQ(font.lfFaceName, L"微软雅黑");
        ReleaseDC(text, dc);
        const auto background = reinterpret_cast<HBRUSH>(
            SendMessageW(d.m_hWnd, WM_CTLCOLORDLG, reinterpret_cast<WPARAM>(dc), reinterpret_cast<LPARAM>(d.m_hWnd)));
        EXPECT_EQ(background, GetStockObject(WHITE_BRUSH));
        EXPECT_NE(TextOf(text).find(L'\n'), std::wstring::npos) << "two lines";
        d.EndDialog(IDOK);
    }});
}

}  // namespace

// The window messages the runtime answers for the screen: deactivation in full screen and the
// desktop's display changes.
#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "quarn/core/core.h"
#include "quarn/core/screen_settings.h"
#include "quarn/graphics/draw_settings.h"
#include "quarn/runtime/runtime.h"
#include "quarn/system/system.h"
#include "tests/core/log_capture.h"
#include "tests/system/window_fixture.h"

namespace {

std::wstring g_logText;

class WindowEventTest : public FreshWindowTest {
protected:
    WindowEventTest() : FreshWindowTest(&g_logText) {}
};

TEST_F(WindowEventTest, FullScreenDeactivationMinimisesUnlessTheDeviceRestoresTheDesktop)
{
    struct Case {
        int32_t os;
        int32_t hardware;
        bool minimised;
    };
    const Case cases[] = {
        {kOsWinXP, 1, false},  // before Vista the hardware device gives the desktop back
        {kOsWinXP, 0, true},
        {kOsVista, 1, true},
        {kOsWin10, 0, true},
    };
    const int32_t os = g_systemCapability.osCode;
    for (const Case& c : cases) {
        SetUp();
        ASSERT_EQ(StartMainWindow(), 0);
        g_systemCapability.osCode = c.os;
        g_screenSettings.hardwareActive = c.hardware;
        SendMessageW(QueryMainWindow(), WM_ACTIVATE, WA_INACTIVE, 0);
        EXPECT_EQ(IsIconic(QueryMainWindow()) != FALSE, c.minimised)
            << "os 0x" << std::hex << c.os << " hardware " << c.hardware;
        EXPECT_EQ(IsWindowActive(), 0);
        TearDown();
    }
    g_systemCapability.osCode = os;
}

int32_t RestoreNothing() { return 0; }

TEST_F(WindowEventTest, DisplayChangeClosesTheWindowOnlyWhenTheScreenCannotFollow)
{
    StartWindowed(nullptr);
    Settle();
    // The screen answers the display change: its shown mode is the fixture's 300 x 60 x 32.
    RegisterScreenWindowHandlers();
    HWND window = QueryMainWindow();
    struct Case {
        int32_t restore;
        WPARAM bits;
        int width, height;
        bool closes;
    };
    const Case cases[] = {
        {1, 32, 300, 60, false},                              // nothing changed
        {1, 32, 1024, 768, false},                            // a larger desktop is followed
        {1, 16, 1024, 768, false}, {0, 32, 1024, 768, true},  // nothing could restore the pictures
        {1, 24, 1024, 768, true},  {1, 8, 1024, 768, true},  {1, 32, 200, 768, true},  // smaller than the screen
    };
    for (const Case& c : cases) {
        g_drawSettings.graphRestoreRoutine = c.restore ? RestoreNothing : nullptr;
        g_system.closePosted = 0;
        g_system.displayChanged = 0;
        g_logText.clear();
        SendMessageW(window, WM_DISPLAYCHANGE, c.bits, MAKELPARAM(c.width, c.height));
        EXPECT_EQ(g_system.closePosted, c.closes ? 1 : 0) << c.bits << " " << c.width << "x" << c.height;
        EXPECT_EQ(g_system.displayChanged, c.closes ? 0 : 1);
        EXPECT_EQ(g_logText.find(L"終了します\n") != std::wstring::npos, c.closes);
    }
    MSG m;
    int closes = 0;
    while (PeekMessageW(&m, window, WM_CLOSE, WM_CLOSE, PM_REMOVE)) {
        ++closes;
    }
    EXPECT_EQ(closes, 4);
    g_system.closePosted = 0;
    g_drawSettings.graphRestoreRoutine = nullptr;
    ClearWindowHandlers();
}

}  // namespace

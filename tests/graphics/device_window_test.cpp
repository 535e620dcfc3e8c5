// The window that the Direct3D 9 device presents to, under Wine's real device: presenting
// frame after frame leaves the window alone, so it is neither re-exposed nor repainted.
#include <gtest/gtest.h>

#include "quarn/graphics/graphics.h"
#include "quarn/graphics/graphics_win.h"
#include "quarn/system/system.h"
#include "tests/graphics/screen_fixture.h"

namespace {

// WM_PAINT messages taken from this thread's queue for the main window while a count runs.
int s_paints = 0;
HHOOK s_hook = nullptr;

LRESULT CALLBACK CountPaints(int code, WPARAM removal, LPARAM message)
{
    const MSG* m = reinterpret_cast<const MSG*>(message);
    if (code == HC_ACTION && removal == PM_REMOVE && m->message == WM_PAINT && m->hwnd == QueryMainWindow()) {
        ++s_paints;
    }
    return CallNextHookEx(s_hook, code, removal, message);
}

class DeviceWindowTest : public ::testing::Test {
protected:
    void SetUp() override { ASSERT_NO_FATAL_FAILURE(StartDeviceScreen(300, 60, L"device window test")); }
    void TearDown() override
    {
        if (s_hook != nullptr) {
            UnhookWindowsHookEx(s_hook);
            s_hook = nullptr;
        }
        EndSoftwareScreen();
    }

    // Frames as an application's loop makes them: wipe, present, a look at the queue.
    static void RunFrames(int count)
    {
        for (int i = 0; i < count; ++i) {
            WipeDrawScreen(nullptr);
            PresentScreen();
            PumpWindowMessages();
            Sleep(2);
        }
    }
};

TEST_F(DeviceWindowTest, PresentingLeavesTheWindowUnpainted)
{
    // The window's own first paints, and those of windows that went before, are over first.
    RunFrames(30);
    s_paints = 0;
    s_hook = SetWindowsHookExW(WH_GETMESSAGE, CountPaints, nullptr, GetCurrentThreadId());
    ASSERT_NE(s_hook, nullptr);
    RunFrames(100);
    // Under Wine a DirectDraw object bound to this window took the window's drawing surface
    // from the device at every present: the window was exposed anew and repainted (and
    // re-presented by its paint handler) some times at every frame.
    EXPECT_LE(s_paints, 2) << "the window was repainted while nothing covered it";
}

}  // namespace

#include <gtest/gtest.h>

#include <objbase.h>

#include <cstring>
#include <string>

#include "quarn/graphics/graph.h"
#include "quarn/graphics/soft/soft_graph.h"
#include "quarn/graphics/graphics.h"
#include "quarn/graphics/graphics_win.h"
#include "quarn/runtime/runtime.h"
#include "quarn/system/system.h"
#include "tests/core/log_capture.h"
#include "tests/graphics/screen_fixture.h"

namespace {

std::wstring g_logText;

// Pumps the window's messages for about the given time.
void PumpFor(DWORD ms)
{
    const DWORD start = GetTickCount();
    while (GetTickCount() - start < ms) {
        PumpWindowMessages();
        Sleep(1);
    }
}

// Every test starts a fresh 300 x 60 x 32 window as the application does: window mode,
// running while inactive, the screen mode set before start-up.
class ScreenTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        CaptureLogInto(&g_logText);
        ASSERT_NO_FATAL_FAILURE(PrepareSoftwareScreen(300, 60, L"screen test"));
    }
    void TearDown() override
    {
        EndSoftwareScreen();
        SetLogCapture(nullptr, nullptr);
    }
    // The window, then graphics, as the library's start-up brings them up.
    void StartScreen()
    {
        ASSERT_NO_FATAL_FAILURE(StartWindowAndGraphics());
        PumpFor(50);
    }
    // Fills the primary image pixel by pixel: colour of (x, y).
    template <typename ColorOf>
    void Paint(ColorOf colorOf)
    {
        MEMIMG& image = g_screenImages.primary;
        for (int y = 0; y < image.height; ++y) {
            auto* row = reinterpret_cast<uint32_t*>(image.pixels + y * image.store->pitch);
            for (int x = 0; x < image.width; ++x) {
                row[x] = colorOf(x, y);
            }
        }
    }
    // The window's pixel as 0x00RRGGBB.
    static uint32_t WindowPixel(int x, int y)
    {
        HDC dc = GetDC(QueryMainWindow());
        const COLORREF c = GetPixel(dc, x, y);
        ReleaseDC(QueryMainWindow(), dc);
        return static_cast<uint32_t>(GetRValue(c)) << 16 | static_cast<uint32_t>(GetGValue(c)) << 8 | GetBValue(c);
    }
};

// A picture in which every pixel tells its own position.
uint32_t PositionColor(int x, int y)
{
    return 0xFF000000u | static_cast<uint32_t>(x & 0xFF) << 16 | static_cast<uint32_t>(y * 4) << 8 | 0x40u;
}

TEST_F(ScreenTest, ConfigureScreenModeBeforeStartUpStoresValidModes)
{
    struct Case {
        int width, height, bits, refresh, result;
    };
    const Case cases[] = {
        {300, 60, 24, 60, -1}, {0, 60, 32, 60, -1},      {300, 0, 32, 60, -1}, {-5, 60, 32, 60, -1},
        {300, 60, 15, 60, -1}, {8000, 6000, 32, 240, 0}, {320, 240, 8, 0, 0},  {640, 480, 16, 0, 0},
    };
    for (const Case& c : cases) {
        ResetScreenSettings();
        g_screenSettings.width = 1;  // a refusal keeps what was there
        EXPECT_EQ(ConfigureScreenMode(c.width, c.height, c.bits, c.refresh), c.result)
            << c.width << "x" << c.height << "x" << c.bits;
        if (c.result == 0) {
            EXPECT_EQ(g_screenSettings.width, c.width);
            EXPECT_EQ(g_screenSettings.height, c.height);
            EXPECT_EQ(g_screenSettings.colorBits, c.bits);
            EXPECT_EQ(g_screenSettings.refreshRate, c.refresh);
        } else {
            EXPECT_EQ(g_screenSettings.width, 1);
            EXPECT_EQ(g_screenSettings.colorBits, 0);
        }
    }
    ResetScreenSettings();
    int w = 0, h = 0;
    GetConfiguredScreenSize(&w, &h);
    EXPECT_EQ(w, 640);
    EXPECT_EQ(h, 480);
    EXPECT_EQ(GetConfiguredColorBits(), 16);
}

TEST_F(ScreenTest, OperationsBeforeStartUpAreRefused)
{
    EXPECT_EQ(SelectDrawTarget(-2), -1);
    EXPECT_EQ(PresentScreen(), -1);
    RECT r{0, 0, 10, 10};
    EXPECT_EQ(PresentScreenArea(&r), -1);
}

TEST_F(ScreenTest, SoftwareStartUpBuildsTheScreen)
{
    StartScreen();
    EXPECT_EQ(g_screenSettings.started, 1);
    EXPECT_EQ(g_screenSettings.hardwareActive, 0);
    EXPECT_NE(GetDirectDrawObject(), nullptr);
    ASSERT_TRUE(TestMemImgValid(&g_screenImages.primary));
    EXPECT_EQ(g_screenImages.primary.width, 300);
    EXPECT_EQ(g_screenImages.primary.height, 60);
    EXPECT_EQ(g_screenImages.primary.store->kind, kMemImgXrgb32);
    EXPECT_TRUE(TestMemImgValid(&g_screenImages.work));
    ASSERT_TRUE(TestMemImgValid(&g_screenImages.workAlpha));
    EXPECT_EQ(g_screenImages.workAlpha.store->alpha, 1);
    EXPECT_EQ(g_drawSettings.softDrawTarget, &g_screenImages.primary);
    // The reset selected the front screen.
    EXPECT_EQ(GetDrawTarget(), kDrawTargetFrontScreen);
    EXPECT_EQ(SelectDrawTarget(kDrawTargetBackScreen), 0);
    EXPECT_EQ(GetDrawTarget(), kDrawTargetBackScreen);
    EXPECT_EQ(g_drawSettings.drawTargetWidth, 300);
    EXPECT_EQ(g_drawSettings.drawTargetHeight, 60);
    EXPECT_FLOAT_EQ(g_drawSettings.screenCenterX, 150.0f);
    EXPECT_FLOAT_EQ(g_drawSettings.screenCenterY, 30.0f);
    // Colour values follow the 32-bit screen.
    EXPECT_EQ(PackScreenColor(255, 255, 255), 0xFFFFFFFFu);
    // The renderer is chosen: the request comes too late.
    EXPECT_EQ(RequestHardwareRendering(1), -1);
    EXPECT_EQ(g_screenSettings.softwareOnly, 1);
}

TEST_F(ScreenTest, EndingGraphicsLeavesTheStateOfAFreshStart)
{
    StartScreen();
    ASSERT_EQ(SelectBlendMode(1, 128), 0);
    ShutDownGraphics();
    EXPECT_EQ(g_screenSettings.started, 0);
    EXPECT_FALSE(TestMemImgValid(&g_screenImages.primary));
    EXPECT_FALSE(TestMemImgValid(&g_screenImages.work));
    EXPECT_FALSE(TestMemImgValid(&g_screenImages.workAlpha));
    EXPECT_EQ(g_drawSettings.softDrawTarget, nullptr);
    EXPECT_EQ(g_drawSettings.blendMode, 0) << "no draw state of the ended screen is left";
    EXPECT_EQ(CurrentRenderBackend(), &kSoftwareRenderBackend);
    // Started again, it is the same screen.
    ASSERT_EQ(InitializeGraphics(), 0);
    EXPECT_EQ(g_drawSettings.softDrawTarget, &g_screenImages.primary);
    EXPECT_EQ(g_screenImages.primary.width, 300);
}

TEST_F(ScreenTest, SixteenBitScreenGetsSixteenBitImages)
{
    ASSERT_EQ(ConfigureScreenMode(300, 60, 16, 60), 0);
    StartScreen();
    ASSERT_TRUE(TestMemImgValid(&g_screenImages.primary));
    EXPECT_EQ(g_screenImages.primary.store->kind, kMemImgRgb565);
    EXPECT_EQ(PackScreenColor(255, 255, 255), 0xFFFFu);
}

TEST_F(ScreenTest, GraphicsStartFailsWithoutTheTextWorkImages)
{
    // At 16 bits the anti-aliased text's work image holds 4 bytes a pixel where the screen
    // holds 2, so only its pixel block is 1200 x 60 bytes: that block cannot be had.
    ASSERT_EQ(ConfigureScreenMode(300, 60, 16, 60), 0);
    ASSERT_EQ(StartMainWindow(), 0);
    RegisterScreenWindowHandlers();
    AllocatorDebugSettings* debug = GetAllocatorDebugSettings();
    debug->failSize = 1200 * 60;
    const int32_t started = InitializeGraphics();
    debug->failSize = 0;
    EXPECT_LT(started, 0);
    EXPECT_NE(g_logText.find(L"テキスト描画用の作業 MEMIMG の作成に失敗しました\n"), std::wstring::npos);
    EXPECT_FALSE(TestMemImgValid(&g_screenImages.primary)) << "the screen image went with them";
    EXPECT_FALSE(TestMemImgValid(&g_screenImages.work));
}

TEST_F(ScreenTest, DrawTargetRefusesHandlesThatAreNoRenderTargets)
{
    StartScreen();
    ASSERT_EQ(SelectDrawTarget(-2), 0);
    const int32_t graph = MakeHandle(kHandleTypeGraph, 0, 0);
    EXPECT_EQ(SelectDrawTarget(graph), -1);
    EXPECT_EQ(SelectDrawTarget(12345), -1);
    EXPECT_EQ(GetDrawTarget(), -2);
    // -3 and -5 behave as the back screen.
    EXPECT_EQ(SelectDrawTarget(-3), 0);
    EXPECT_EQ(g_drawSettings.softDrawTarget, &g_screenImages.primary);
    EXPECT_EQ(g_drawSettings.drawTargetWidth, 300);
}

TEST_F(ScreenTest, GraphTargetTakesItsImageAndSize)
{
    StartScreen();
    // A handle that names no graph is refused.
    EXPECT_EQ(SelectDrawTarget(MakeHandle(kHandleTypeGraph, 0, 0)), -1);
    const int32_t graph = CreateBlankGraph(40, 20);
    ASSERT_GE(graph, 0);
    GraphRecord* record = FindGraphRecord(graph);
    ASSERT_NE(record, nullptr);
    // An image that cannot be drawn into is refused.
    record->image->request.renderTarget = 0;
    EXPECT_EQ(SelectDrawTarget(graph), -1);
    record->image->request.renderTarget = 1;
    StoreDrawClipRect(5, 5, 10, 10);
    ASSERT_EQ(SelectDrawTarget(graph), 0);
    EXPECT_EQ(g_drawSettings.softDrawTarget, SoftViewOf(record));
    EXPECT_EQ(g_drawSettings.drawTargetWidth, 40);
    EXPECT_EQ(g_drawSettings.drawTargetHeight, 20);
    // A target of another size gets a whole-target clip.
    EXPECT_EQ(g_drawSettings.clip.right, 40);
    EXPECT_EQ(g_drawSettings.clip.bottom, 20);
    // The same size again keeps the clip.
    StoreDrawClipRect(1, 2, 3, 4);
    ASSERT_EQ(SelectDrawTarget(graph), 0);
    EXPECT_EQ(g_drawSettings.clip.left, 1);
    EXPECT_EQ(g_drawSettings.clip.bottom, 4);
    ASSERT_EQ(SelectDrawTarget(-2), 0);
    EXPECT_EQ(g_drawSettings.softDrawTarget, &g_screenImages.primary);
    EXPECT_EQ(g_drawSettings.clip.right, 300);
    DestroyGraph(graph);
}

TEST_F(ScreenTest, SoftwarePresentShowsThePicture)
{
    StartScreen();
    ASSERT_EQ(SelectDrawTarget(-2), 0);
    Paint(PositionColor);
    ASSERT_EQ(PresentScreen(), 0);
    for (const POINT p : {POINT{0, 0}, POINT{299, 0}, POINT{0, 59}, POINT{299, 59}, POINT{123, 45}, POINT{7, 31}}) {
        EXPECT_EQ(WindowPixel(p.x, p.y), PositionColor(p.x, p.y) & 0xFFFFFF) << p.x << "," << p.y;
    }
    EXPECT_EQ(g_screenSettings.lastPresent.right, 300);
    EXPECT_EQ(g_screenSettings.lastPresent.bottom, 60);
}

TEST_F(ScreenTest, LayeredPresentCutsOutTheTransparentColourAndKeepsTheTarget)
{
    StartScreen();
    TurnLayeredWindowOn(0);
    ASSERT_EQ(SelectDrawTarget(kDrawTargetFrontScreen), 0);
    ASSERT_EQ(SetDrawClipRect(5, 5, 100, 50), 0);
    // Black, the transparent colour, on the left; the screen's unused top byte holds junk.
    Paint([](int x, int) { return x < 150 ? 0x7F000000u : 0x7F123456u; });
    ASSERT_EQ(PresentScreen(), 0);

    const int32_t caption = g_system.captionOffset;
    ASSERT_NE(g_system.layeredBitmap, nullptr);
    EXPECT_EQ(g_system.layeredWidth, 300);
    EXPECT_EQ(g_system.layeredHeight, 60 + caption);
    EXPECT_EQ(LayeredPixel(10, caption + 10), 0x00000000u);
    EXPECT_EQ(LayeredPixel(200, caption + 10), 0xFF123456u);
    EXPECT_EQ(LayeredPixel(299, caption + 59), 0xFF123456u);
    if (caption > 0) {
        EXPECT_EQ(LayeredPixel(200, caption - 1), 0x00000000u) << "the caption's rows stay transparent";
    }
    // The back screen was the target only while it was read.
    EXPECT_EQ(GetDrawTarget(), kDrawTargetFrontScreen);
    EXPECT_EQ(g_drawSettings.clip.left, 5);
    EXPECT_EQ(g_drawSettings.clip.bottom, 50);

    // Asked for the image's alpha: the screen has none, so everything is opaque.
    g_system.layeredImageAlpha = 1;
    HBITMAP first = g_system.layeredBitmap;
    ASSERT_EQ(PresentScreen(), 0);
    EXPECT_EQ(g_system.layeredBitmap, first) << "the same size keeps the picture";
    EXPECT_EQ(LayeredPixel(10, caption + 10), 0xFF000000u);

    // Another size makes the picture anew and deletes the old one.
    g_system.captionOffset = caption + 7;
    ASSERT_EQ(PresentScreen(), 0);
    HBITMAP second = g_system.layeredBitmap;
    ASSERT_NE(second, nullptr);
    EXPECT_EQ(g_system.layeredHeight, 67 + caption);
    BITMAP info{};
    ASSERT_NE(GetObjectW(second, sizeof(info), &info), 0);
    EXPECT_EQ(info.bmHeight, 67 + caption);
    EXPECT_EQ(GetObjectType(first), 0u) << "the old picture was not deleted";

    // The window's end deletes the picture.
    EndSoftwareScreen();
    EXPECT_EQ(GetObjectType(second), 0u);
    ASSERT_NO_FATAL_FAILURE(PrepareSoftwareScreen(300, 60, L"screen test"));
}

TEST_F(ScreenTest, PartialPresentShowsOnlyItsArea)
{
    StartScreen();
    ASSERT_EQ(SelectDrawTarget(-2), 0);
    Paint([](int, int) { return 0xFF102030u; });
    ASSERT_EQ(PresentScreen(), 0);
    Paint(PositionColor);
    // An area away from the middle rows: rows counted from the wrong edge would show others.
    RECT area{20, 5, 120, 25};
    ASSERT_EQ(PresentScreenArea(&area), 0);
    for (const POINT p : {POINT{20, 5}, POINT{119, 24}, POINT{60, 12}, POINT{100, 20}}) {
        EXPECT_EQ(WindowPixel(p.x, p.y), PositionColor(p.x, p.y) & 0xFFFFFF) << p.x << "," << p.y;
    }
    for (const POINT p : {POINT{19, 5}, POINT{120, 24}, POINT{60, 4}, POINT{60, 25}, POINT{200, 50}}) {
        EXPECT_EQ(WindowPixel(p.x, p.y), 0x102030u) << p.x << "," << p.y;
    }
}

TEST_F(ScreenTest, ScaledWindowStretchesAndMapsRepaintAreasBack)
{
    StartScreen();
    ASSERT_EQ(SelectDrawTarget(-2), 0);
    g_system.scaleX = 2.0;
    g_system.scaleY = 2.0;
    ApplyWindowSize();
    PumpFor(50);
    RECT client{};
    GetClientRect(QueryMainWindow(), &client);
    ASSERT_EQ(client.right, 600);
    ASSERT_EQ(client.bottom, 120);
    Paint([](int, int) { return 0xFF102030u; });
    ASSERT_EQ(PresentScreen(), 0);
    EXPECT_EQ(g_screenSettings.lastPresent.right, 600);
    EXPECT_EQ(WindowPixel(599, 119), 0x102030u);
    Paint(PositionColor);
    // The client area (200, 20)-(400, 60) shows the picture's (100, 10)-(200, 30), doubled.
    RECT area{200, 20, 400, 60};
    ASSERT_EQ(PresentScreenArea(&area), 0);
    for (const POINT p : {POINT{100, 10}, POINT{150, 20}, POINT{199, 29}}) {
        EXPECT_EQ(WindowPixel(p.x * 2 + 1, p.y * 2 + 1), PositionColor(p.x, p.y) & 0xFFFFFF) << p.x << "," << p.y;
    }
    EXPECT_EQ(WindowPixel(199, 40), 0x102030u);
    EXPECT_EQ(WindowPixel(400, 40), 0x102030u);
}

TEST_F(ScreenTest, RepaintShowsTheBackScreen)
{
    StartScreen();
    ASSERT_EQ(SelectDrawTarget(-2), 0);
    Paint(PositionColor);
    InvalidateRect(QueryMainWindow(), nullptr, FALSE);
    UpdateWindow(QueryMainWindow());
    EXPECT_EQ(WindowPixel(250, 40), PositionColor(250, 40) & 0xFFFFFF);
}

TEST_F(ScreenTest, FrontScreenIsRefreshedUntilAnotherTargetIsSelected)
{
    StartScreen();
    ASSERT_EQ(SelectDrawTarget(-4), 0);
    Paint([](int, int) { return 0xFF00FF00u; });
    PumpFor(150);  // several ticks of the 32 ms timer
    EXPECT_EQ(WindowPixel(10, 10), 0x00FF00u);

    ASSERT_EQ(SelectDrawTarget(-2), 0);
    PumpFor(60);  // the timer's next tick finds the back screen and lapses
    Paint([](int, int) { return 0xFFFF0000u; });
    PumpFor(150);
    EXPECT_EQ(WindowPixel(10, 10), 0x00FF00u);
}

TEST_F(ScreenTest, PacingTakesTheDisplaysRateWhereTheBlankWaitReturnsAtOnce)
{
    StartScreen();
    // Wine's vertical-blank wait comes back at once, so the measurement could only have timed
    // its own sleeps: the display's own rate stands in for it.
    DEVMODEW mode{};
    mode.dmSize = sizeof(mode);
    ASSERT_TRUE(EnumDisplaySettingsW(nullptr, ENUM_CURRENT_SETTINGS, &mode));
    const int64_t hz = mode.dmDisplayFrequency > 1 ? mode.dmDisplayFrequency : 60;
    const int64_t period = g_screenSettings.refreshPeriod;
    EXPECT_EQ(period, 1000000 / hz);
    EXPECT_EQ(g_screenSettings.timedPacing, 1);

    // Each paced wait lasts until its blank is due, a period after the one before.
    for (int i = 0; i < 5; ++i) {
        const int64_t first = g_screenSettings.lastBlankTime;
        ASSERT_EQ(WaitForVerticalBlankPaced(), 0);
        EXPECT_GE(g_screenSettings.lastBlankTime - first, period);
        EXPECT_GE(ReadMicrosecondClock(1), g_screenSettings.lastBlankTime);
    }
    // Presents wait as well, unless waiting is switched off.
    ASSERT_EQ(SelectDrawTarget(-2), 0);
    PresentScreen();
    const int64_t before = g_screenSettings.lastBlankTime;
    PresentScreen();
    EXPECT_GE(g_screenSettings.lastBlankTime - before, period);
    SetVerticalSyncWait(0);
    EXPECT_EQ(GetVerticalSyncWait(), 0);
    const int64_t kept = g_screenSettings.lastBlankTime;
    PresentScreen();
    EXPECT_EQ(g_screenSettings.lastBlankTime, kept);
}

TEST_F(ScreenTest, DisplayModeList)
{
    const int count = CountDisplayModes();
    ASSERT_GE(count, 1);
    const DisplayModeEntry first = FetchDisplayMode(0);
    EXPECT_GE(first.colorBits, 16);
    EXPECT_EQ(IsDisplayModeListed(first.width, first.height, first.colorBits), 1);
    EXPECT_EQ(IsDisplayModeListed(12345, 777, 32), 0);
    for (int index : {-1, count}) {
        const DisplayModeEntry none = FetchDisplayMode(index);
        EXPECT_EQ(none.width, -1);
        EXPECT_EQ(none.height, -1);
        EXPECT_EQ(none.colorBits, -1);
        EXPECT_EQ(none.refreshRate, -1);
    }
    FreeDisplayModeList();
}

TEST_F(ScreenTest, DisplaySwitchFailures)
{
    ASSERT_EQ(StartMainWindow(), 0);
    g_screenSettings.colorBits = 24;
    EXPECT_EQ(SwitchDisplaySettings(), -1);
    EXPECT_NE(g_logText.find(L"24 bit"), std::wstring::npos);
    // A mode the display does not have: the refresh is dropped, then the switch fails.
    ResetScreenSettings();
    g_screenSettings.width = 12345;
    g_screenSettings.height = 777;
    g_screenSettings.colorBits = 32;
    g_screenSettings.refreshRate = 75;
    g_logText.clear();
    EXPECT_EQ(SwitchDisplaySettings(), -1);
    EXPECT_EQ(g_screenSettings.refreshRate, 0);
    EXPECT_EQ(g_screenSettings.displayFallback, 0);
    EXPECT_NE(g_logText.find(L"画面モードの変更に失敗しました"), std::wstring::npos);
}

TEST_F(ScreenTest, FullScreenStartFailsWhenTheDisplayCannotSwitch)
{
    ASSERT_EQ(StartMainWindow(), 0);
    g_system.windowed = 0;
    g_screenSettings.width = 12345;
    g_screenSettings.height = 777;
    EXPECT_EQ(InitializeGraphics(), -1);
    EXPECT_EQ(g_screenSettings.started, 0);
    EXPECT_EQ(GetDirectDrawObject(), nullptr);
    EXPECT_FALSE(TestMemImgValid(&g_screenImages.primary));
    g_system.windowed = 1;
}

TEST_F(ScreenTest, ScreenModeChangeWhileRunning)
{
    StartScreen();
    ASSERT_EQ(SelectDrawTarget(-2), 0);
    int32_t (*const routine)() = []() -> int32_t { return 0; };
    InstallGraphRestoreHandler(routine);
    EXPECT_EQ(ConfigureScreenMode(320, 100, 32, 60), 0);
    EXPECT_EQ(g_drawSettings.graphRestoreRoutine, routine) << "the application's restore outlives the change";
    g_drawSettings.graphRestoreRoutine = nullptr;
    EXPECT_EQ(g_screenSettings.started, 1);
    ASSERT_TRUE(TestMemImgValid(&g_screenImages.primary));
    EXPECT_EQ(g_screenImages.primary.width, 320);
    EXPECT_EQ(g_screenImages.primary.height, 100);
    EXPECT_EQ(GetDrawTarget(), -2);
    EXPECT_EQ(g_drawSettings.drawTargetWidth, 320);
    RECT client{};
    GetClientRect(QueryMainWindow(), &client);
    EXPECT_EQ(client.right, 320);
    EXPECT_EQ(client.bottom, 100);
    int w = 0, h = 0, bits = 0;
    QueryScreenSizeAndDepth(&w, &h, &bits);
    EXPECT_EQ(w, 320);
    EXPECT_EQ(h, 100);
    EXPECT_EQ(bits, 32);
    // The same mode again changes nothing.
    EXPECT_EQ(ConfigureScreenMode(320, 100, 32, 60), 0);
    EXPECT_NE(g_logText.find(L"画面モード変更処理は正常に終了しました"), std::wstring::npos);
}

// The display offers only its own 1024 x 768 mode: full screen starts there, and a 320 x 240
// request (set up as a doubled 640 x 480 screen) is refused and falls back to it.
TEST_F(ScreenTest, RefusedFullScreenChangeReturnsToTheModeAsItWas)
{
    ASSERT_EQ(ConfigureScreenMode(1024, 768, 32, 0), 0);
    ChangeWindowMode(0);
    StartScreen();
    ASSERT_EQ(g_screenSettings.started, 1);
    ASSERT_EQ(IsFullScreenMode(), 1);
    EXPECT_EQ(ConfigureScreenMode(320, 240, 32, 0), -1);
    EXPECT_EQ(g_screenSettings.started, 1);
    EXPECT_EQ(g_screenSettings.doubled, 0);
    int w = 0, h = 0, bits = 0;
    QueryScreenSizeAndDepth(&w, &h, &bits);
    EXPECT_EQ(w, 1024);
    EXPECT_EQ(h, 768);
    EXPECT_EQ(bits, 32);
    ASSERT_TRUE(TestMemImgValid(&g_screenImages.primary));
    EXPECT_EQ(g_screenImages.primary.width, 1024);
}

TEST_F(ScreenTest, ModeTooLargeForMemoryFallsBackToTheRunningMode)
{
    StartScreen();
    ASSERT_EQ(SelectDrawTarget(-2), 0);
    // 40000 x 20000 pixels of 4 bytes pass 2 GB: the screen image cannot be made. The program
    // keeps running in the mode it had instead of ending.
    EXPECT_EQ(ConfigureScreenMode(40000, 20000, 32, 60), -1);
    EXPECT_NE(g_logText.find(L"プライマリサーフェス用の MEMIMG の作成に失敗しました"), std::wstring::npos);
    EXPECT_EQ(g_screenSettings.started, 1);
    EXPECT_EQ(g_screenSettings.width, 300);
    EXPECT_EQ(g_screenSettings.height, 60);
    ASSERT_TRUE(TestMemImgValid(&g_screenImages.primary));
    EXPECT_EQ(g_screenImages.primary.width, 300);
    EXPECT_EQ(g_screenImages.primary.height, 60);
    EXPECT_EQ(GetDrawTarget(), -2);
    Paint(PositionColor);
    ASSERT_EQ(PresentScreen(), 0);
    EXPECT_EQ(WindowPixel(123, 45), PositionColor(123, 45) & 0xFFFFFF);
}

}  // namespace

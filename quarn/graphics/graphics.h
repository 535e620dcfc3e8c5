// Graphics: what the screen, the draw state and the graph code offer the rest of the library.
//
// This header needs no operating system. Declarations marked "Windows build only" have no
// definition in the native build; portable code must not call them.
#pragma once

#include <cstdint>

#include "quarn/core/core.h"
#include "quarn/graphics/draw_settings.h"
#include "quarn/core/handle.h"
#include "quarn/core/screen_settings.h"
#include "quarn/quarn.h"
#include "quarn/softrender/softrender.h"

// ---------------------------------------------------------------------------------------
// Screen, draw target and present
// ---------------------------------------------------------------------------------------

// The software screen: the primary image (back screen and source of every software present)
// and two work images of the same size for text drawing (the second with an alpha channel).
// The image drawing goes to is the draw state's softDrawTarget.
struct ScreenImages {
    MEMIMG primary;
    MEMIMG work;
    MEMIMG workAlpha;
};
extern ScreenImages g_screenImages;

// What a graph handle means to the screen code.
struct GraphDrawInfo {
    MEMIMG* ownImage;     // the graph's own view (software)
    MEMIMG* sharedImage;  // the whole image shared with its sub-graphs (software)
    int32_t width;
    int32_t height;
    int32_t renderTarget;     // 1 when the graph may be drawn into
    int32_t hardwareTexture;  // 1 when the image lives in device textures
};

// The window's background colour as 0x00RRGGBB, which wiping clears to and a new screen starts
// with: black.
constexpr uint32_t kWindowBackgroundColor = 0;

// 0 and the graph's facts for a live graph handle, -1 for anything else.
int32_t DescribeGraph(int32_t handle, GraphDrawInfo* out);
// Graphics start: an empty graph table from slot 0. Graphs still in it are destroyed first, so
// that no later creation takes a slot that still holds a record.
int32_t ResetGraphTable();

int32_t IsHardwareActive();

// Zeroes the draw state (keeping the graph restore routine) and sets its defaults; the draw
// target becomes -2 with the configured screen size and a clip of the whole screen.
void ApplyDrawSettingDefaults();
// The state of graphics that never started: the screen images released, the software back
// end, draw settings of a fresh process, not started. The graphs and the device go first (the
// end does that). The graph-restore routine is kept: the application or the start-up installs
// it, and it outlives a screen-mode change. The end of graphics finishes with it; test
// fixtures start from it.
void ResetGraphicsState();

// Orders the corners, clamps the rectangle into the draw target and stores it as the clip;
// the empty-clip flag follows. Returns 0.
int32_t StoreDrawClipRect(int32_t left, int32_t top, int32_t right, int32_t bottom);

// A rectangle in window client coordinates mapped into the picture through the last present
// rectangle, which the whole picture was shown in (integer arithmetic).
PixelRect MapPresentRect(const PixelRect& area, const PixelRect& lastPresent, int32_t screenWidth,
                         int32_t screenHeight);

// Where a partial software present reads: x, y as a bottom-up DIB counts rows (y from the
// picture's bottom edge), width and height.
struct DibSourceRect {
    int32_t x, y, width, height;
};
DibSourceRect BottomUpSourceRect(const PixelRect& mapped, int32_t screenHeight);

// Refresh-period measurement: fed the clock after each vertical blank, it settles once ten
// intervals in a row each differ from the one before by less than a millisecond.
struct RefreshMeter {
    int64_t lastTime;  // -1 before the first reading
    int64_t lastInterval;
    int64_t sum;
    int32_t streak;
};
void StartRefreshMeter(RefreshMeter* meter, int64_t firstTime);
// The period in microseconds once settled, else -1.
int64_t FeedRefreshMeter(RefreshMeter* meter, int64_t now);
// Microseconds that must pass after a blank before the next paced wait.
int64_t PacingThreshold(int64_t refreshPeriod);

// The shortest refresh period of any display (500 Hz).
constexpr int64_t kShortestDisplayPeriodUs = 2000;
// Blank waits made back to back, with nothing between, before the period is measured: a wait
// that blocks takes a whole refresh period each time.
constexpr int32_t kBlankWaitProbes = 5;
// Whether the blank wait returns at once, from the durations of kBlankWaitProbes waits made
// back to back: one that came back sooner than the shortest period cannot have waited for a
// blank. The shortest of several decides, not the first alone, because on a slow or loaded
// machine (an emulator, other programs) a wait that returns at once may still take longer
// than that now and then; a wait that blocks is never quicker than a period.
int32_t BlankWaitReturnsAtOnce(const int64_t* durations, int32_t count);
// The refresh rate taken when the display does not say its own.
constexpr int32_t kAssumedRefreshHz = 60;

// The refresh period that presents are paced to, from what the measurement found: the
// measured period (-1 when none settled) while the wait blocks and that period is one a
// display can have; otherwise the display's own rate (displayHz from its current mode; 0 or 1
// mean the hardware default, which says nothing) or else kAssumedRefreshHz. *timed becomes 1
// when the paced wait must time itself because the blank wait cannot.
int64_t ChoosePacingPeriod(int64_t measured, int32_t waitReturnedAtOnce, int32_t displayHz, int32_t* timed);
// When the paced wait times itself: the time its next blank is due, one period after the last;
// a caller more than a period late starts the count again from now.
int64_t NextTimedBlank(int64_t lastBlank, int64_t period, int64_t now);

// A screen-mode change's result from the mode asked for, the mode before and the mode after:
// 0 as asked, -2 fell back to 640 x 480 x 16 at any refresh, -1 otherwise.
struct ScreenMode {
    int32_t width, height, bits, refresh;
};
int32_t ClassifyModeChange(const ScreenMode& requested, const ScreenMode& before, const ScreenMode& after);
// 1 for a full-screen 320 x 240 request: it is set up as a 640 x 480 screen whose top-left
// 320 x 240 pixels are shown, each doubled.
int32_t IsDoubledRequest(int32_t width, int32_t height, int32_t windowed);
// 1 while the screen is such a 640 x 480 one standing in for 320 x 240 (doubled, or a refused
// 320 x 240 display mode). A flag left from a request that fell back to another size shows
// nothing doubled.
int32_t IsShownDoubled(const ScreenSettings& settings);
// The mode as the application sees it: 640 x 480 x 16 where unset, 320 x 240 while shown
// doubled.
ScreenMode ShownScreenMode(const ScreenSettings& settings);

// The screen's pixel format (16 bits: RGB565, otherwise X8R8G8B8).
const ColorFormat* ScreenColorFormat();

// The image software draws pass to the kernels as blend image: the selected blend graph's
// shared image, or null when none is selected or it no longer exists.
MEMIMG* SelectedBlendMemImg();
// A Direct3D colour value: r, g, b, a in that order. Returns out.
float* MakeFloatColor(float* out, float r, float g, float b, float a);
// The diffuse colour of batched vertices: alpha the blend parameter (255 in kBlendModeNone),
// then the bright colour.
uint32_t ComputeBatchVertexColor();

// Waits until the main window is active again (returns at once when the program runs while
// inactive). Does nothing in the native build.
void WaitForActiveWindow();
// 1 once the library's start-up has begun; 0 in the native build.
int32_t HasLibraryStarted();

// The software present's header: the DIB header and the three colour masks after it.
struct ScreenDibHeader {
    uint32_t size;
    int32_t width;
    int32_t height;
    uint16_t planes;
    uint16_t bitCount;
    uint32_t compression;
    uint32_t sizeImage;
    int32_t xPelsPerMeter;
    int32_t yPelsPerMeter;
    uint32_t clrUsed;
    uint32_t clrImportant;
    uint32_t masks[3];
};
// Fills the header for the primary image: top-down, its bits, BI_BITFIELDS with its masks.
void BuildScreenDibHeader(ScreenDibHeader* header, const MEMIMG* image);

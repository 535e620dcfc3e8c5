// The arithmetic of the screen code that needs no operating system: present rectangles, the
// DIB header of the software present, refresh-period measurement and mode-change results.
#include "quarn/graphics/graphics.h"

ScreenImages g_screenImages;

PixelRect MapPresentRect(const PixelRect& area, const PixelRect& lastPresent, int32_t screenWidth, int32_t screenHeight)
{
    // 64-bit products: a large window times a large picture would pass 2^31.
    const int64_t spanX = int64_t{lastPresent.right} - lastPresent.left;
    const int64_t spanY = int64_t{lastPresent.bottom} - lastPresent.top;
    if (spanX <= 0 || spanY <= 0) {
        return area;  // nothing presented yet: client and picture coincide
    }
    PixelRect out;
    out.left = static_cast<int32_t>((area.left - int64_t{lastPresent.left}) * screenWidth / spanX);
    out.right = static_cast<int32_t>((area.right - int64_t{lastPresent.left}) * screenWidth / spanX);
    out.top = static_cast<int32_t>((area.top - int64_t{lastPresent.top}) * screenHeight / spanY);
    out.bottom = static_cast<int32_t>((area.bottom - int64_t{lastPresent.top}) * screenHeight / spanY);
    return out;
}

DibSourceRect BottomUpSourceRect(const PixelRect& mapped, int32_t screenHeight)
{
    return DibSourceRect{mapped.left, screenHeight - mapped.bottom, mapped.right - mapped.left,
                         mapped.bottom - mapped.top};
}

void StartRefreshMeter(RefreshMeter* meter, int64_t firstTime) { *meter = RefreshMeter{firstTime, -1, 0, 0}; }

int64_t FeedRefreshMeter(RefreshMeter* meter, int64_t now)
{
    const int64_t interval = now - meter->lastTime;
    meter->lastTime = now;
    const int64_t change = interval - meter->lastInterval;
    if (meter->lastInterval >= 0 && change > -1000 && change < 1000) {
        ++meter->streak;
        meter->sum += interval;
    } else {
        meter->streak = 0;
        meter->sum = 0;
    }
    meter->lastInterval = interval;
    return meter->streak >= 10 ? meter->sum / meter->streak : -1;
}

int64_t PacingThreshold(int64_t refreshPeriod) { return refreshPeriod > 0 ? refreshPeriod - 3000 : 4000; }

int32_t BlankWaitReturnsAtOnce(const int64_t* durations, int32_t count)
{
    for (int32_t i = 0; i < count; ++i) {
        if (durations[i] < kShortestDisplayPeriodUs) {
            return 1;
        }
    }
    return 0;
}

int64_t ChoosePacingPeriod(int64_t measured, int32_t waitReturnedAtOnce, int32_t displayHz, int32_t* timed)
{
    const bool waitPaces = !waitReturnedAtOnce && (measured <= 0 || measured >= kShortestDisplayPeriodUs);
    *timed = waitPaces ? 0 : 1;
    if (waitPaces) {
        return measured > 0 ? measured : -1;
    }
    const int64_t shortest = kShortestDisplayPeriodUs;
    const int32_t hz = displayHz > 1 && 1000000 / displayHz >= shortest ? displayHz : kAssumedRefreshHz;
    return 1000000 / hz;
}

int64_t NextTimedBlank(int64_t lastBlank, int64_t period, int64_t now)
{
    const int64_t due = lastBlank + period;
    return now - due >= period ? now : due;
}

int32_t ClassifyModeChange(const ScreenMode& requested, const ScreenMode& before, const ScreenMode& after)
{
    const auto same = [](const ScreenMode& a, const ScreenMode& b) {
        return a.width == b.width && a.height == b.height && a.bits == b.bits && a.refresh == b.refresh;
    };
    if (same(after, requested)) {
        return 0;
    }
    if (same(after, before)) {
        return -1;
    }
    if (same(after, ScreenMode{kDefaultScreenWidth, kDefaultScreenHeight, kDefaultColorBits, 0})) {
        return -2;
    }
    return -1;
}

namespace {
// The configured mode with the start-up defaults where unset.
ScreenMode ConfiguredMode(const ScreenSettings& s)
{
    return ScreenMode{s.width != 0 ? s.width : kDefaultScreenWidth, s.height != 0 ? s.height : kDefaultScreenHeight,
                      s.colorBits != 0 ? s.colorBits : kDefaultColorBits, s.refreshRate};
}
}  // namespace

int32_t IsDoubledRequest(int32_t width, int32_t height, int32_t windowed)
{
    return !windowed && width == 320 && height == 240 ? 1 : 0;
}

int32_t IsShownDoubled(const ScreenSettings& settings)
{
    const ScreenMode mode = ConfiguredMode(settings);
    return (settings.doubled || settings.displayFallback) && mode.width == kDefaultScreenWidth &&
                   mode.height == kDefaultScreenHeight
               ? 1
               : 0;
}

ScreenMode ShownScreenMode(const ScreenSettings& settings)
{
    ScreenMode mode = ConfiguredMode(settings);
    if (IsShownDoubled(settings)) {
        mode.width = 320;
        mode.height = 240;
    }
    return mode;
}

void BuildScreenDibHeader(ScreenDibHeader* header, const MEMIMG* image)
{
    *header = ScreenDibHeader{};
    const MemImgBase* store = image->store;
    const ColorFormat* format = store->format;
    header->size = 40;
    // DIB rows are as long as the width says, rounded to 4 bytes; the image's rows may be
    // longer, so the header's width covers the whole row and presents read only the picture.
    header->width = store->pitch / (format->bytesPerPixel != 0 ? format->bytesPerPixel : 1);
    header->height = -image->height;  // top-down
    header->planes = 1;
    header->bitCount = format->bitDepth;
    header->compression = 3;  // BI_BITFIELDS
    header->masks[0] = format->redMask;
    header->masks[1] = format->greenMask;
    header->masks[2] = format->blueMask;
}

// The mask screen on the software renderer: drawing goes into a work image of the screen's
// size, and each draw's area is copied back into the draw target pixel by pixel where the
// mask's byte lets it through.
#include <cstring>

#include "quarn/core/core.h"
#include "quarn/graphics/graphics.h"
#include "quarn/graphics/mask.h"
#include "quarn/graphics/render_backend.h"

namespace {

// The image drawing lands in when no mask intervenes: the graph's own view, or the screen.
MEMIMG* SoftTargetImage()
{
    const int32_t target = g_drawSettings.drawTarget;
    if (target >= 0) {
        GraphDrawInfo info{};
        return DescribeGraph(target, &info) == 0 ? info.ownImage : nullptr;
    }
    return &g_screenImages.primary;
}

}  // namespace

int32_t SoftBuildMask()
{
    MaskScreenState& m = g_maskScreen;
    if (!TestMemImgValid(&m.work)) {
        if (CreatePlainMemImg(&m.work, m.width, m.height, -1) != 0) {
            FatalErrorExit(L"マスク用 MEMIMG の作成に失敗しました");
        }
        m.workCreated = 1;
    }
    return 0;
}

void SoftReleaseMask()
{
    MaskScreenState& m = g_maskScreen;
    if (m.workCreated) {
        ReleaseMemImgRef(&m.work);
        m.workCreated = 0;
    }
}

int32_t SoftTargetMaskWork()
{
    g_drawSettings.softDrawTarget = &g_maskScreen.work;
    return 0;
}

void SoftPrepareMask(const PixelRect* area)
{
    const MEMIMG* target = SoftTargetImage();
    if (target != nullptr && TestMemImgValid(&g_maskScreen.work)) {
        ConvertCopyMemImg(&g_maskScreen.work, target, area, area->left, area->top);
    }
}

int32_t SoftCommitMask(const PixelRect* area)
{
    const MaskScreenState& m = g_maskScreen;
    const PixelRect r = *area;
    MEMIMG* target = SoftTargetImage();
    const MEMIMG& work = m.work;
    if (target == nullptr || !TestMemImgValid(&work) ||
        target->store->format->bytesPerPixel != work.store->format->bytesPerPixel) {
        return 0;
    }
    const int32_t bytes = work.store->format->bytesPerPixel;
    const uint8_t pass = m.reverse ? 1 : 0;
    for (int32_t y = r.top; y < r.bottom; ++y) {
        const uint8_t* mask = m.bits + static_cast<ptrdiff_t>(y) * m.pitch;
        const uint8_t* from = work.pixels + static_cast<ptrdiff_t>(y) * work.store->pitch;
        uint8_t* to = target->pixels + static_cast<ptrdiff_t>(y) * target->store->pitch;
        for (int32_t x = r.left; x < r.right; ++x) {
            if ((mask[x] != 0 ? 1 : 0) == pass) {
                std::memcpy(to + static_cast<ptrdiff_t>(x) * bytes, from + static_cast<ptrdiff_t>(x) * bytes,
                            static_cast<size_t>(bytes));
            }
        }
    }
    return 0;
}

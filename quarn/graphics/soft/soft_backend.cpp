// The software renderer as a render back end: the software screen, and the table that hands the
// drawing front end to the software kernels. The back end in use lives here too.
#include "quarn/graphics/render_backend.h"

#include "quarn/core/core.h"

namespace {

const RenderBackend* s_backend = &kSoftwareRenderBackend;

// What the software renderer does not need to be told of or asked to do.
int32_t Nothing() { return 0; }
int32_t NoStateChange(int32_t) { return 0; }
void NoFlush() {}
int32_t NoSubtractEmulation() { return 0; }
void NoInversion(const PixelRect*) {}

int32_t SelectSoftTarget(int32_t, const GraphDrawInfo* info)
{
    g_drawSettings.softDrawTarget = info != nullptr ? info->ownImage : &g_screenImages.primary;
    return 0;
}

int32_t NoMaskUpload(const PixelRect*) { return 0; }

// Its graphs with alpha hold 32-bit colour with an 8-bit alpha: a cache in that format is
// copied in without conversion, whatever the glyphs' kind.
const ColorFormat* SoftGlyphCacheFormat(int32_t) { return GetMemImgColorFormat(kMemImgXrgb32, 1, 0); }

}  // namespace

const RenderBackend kSoftwareRenderBackend = {
    .name = "software",
    .hardware = 0,
    .glyphCache = kGlyphCacheMemory,
    .glyphCacheFormat = SoftGlyphCacheFormat,
    // Start and stop
    .start = StartSoftwareScreen,
    .makeScreen = CreateSoftwareScreen,
    .stop = Nothing,
    .reset = ReleaseSoftwareScreen,
    // Draw state and target
    .applyDrawState = NoStateChange,
    .selectBlendGraph = SoftSelectBlendGraph,
    .selectTarget = SelectSoftTarget,
    // Drawing
    .wipe = SoftWipeDrawTarget,
    .applyClip = Nothing,
    .paint = SoftPaintGraph,
    .drawQuad = SoftDrawQuad,
    .drawStretchedQuad = SoftDrawStretchedQuad,
    .drawFourCornersQuad = SoftDrawFourCornersQuad,
    .subtractNeedsEmulation = NoSubtractEmulation,
    .invertAreaBeforeSubtract = NoInversion,
    .invertAreaAfterSubtract = NoInversion,
    .flush = NoFlush,
    // Present
    .present = PresentSoftwareScreen,
    .keepPicture = Nothing,
    // Images
    .makeImage = SoftMakeGraphImage,
    .uploadImage = SoftUploadGraphImage,
    .releaseImage = SoftReleaseGraphImage,
    .describeImage = SoftDescribeGraphImage,
    .viewImage = SoftViewGraphImage,
    .releaseView = SoftReleaseGraphView,
    // The mask screen: the software kernels read the mask bytes where they are
    .buildMask = SoftBuildMask,
    .releaseMask = SoftReleaseMask,
    .uploadMask = NoMaskUpload,
    .targetMaskWork = SoftTargetMaskWork,
    .prepareMask = SoftPrepareMask,
    .commitMask = SoftCommitMask,
};

const RenderBackend* CurrentRenderBackend() { return s_backend; }

void UseRenderBackend(const RenderBackend* backend)
{
    s_backend = backend;
    g_screenSettings.hardwareActive = backend->hardware;
}

const RenderBackend* ImageRenderBackend(const GraphImage* image)
{
    return image->backend != nullptr ? image->backend : s_backend;
}

void ReleaseSoftwareScreen()
{
    ReleaseMemImgRef(&g_screenImages.primary);
    ReleaseMemImgRef(&g_screenImages.work);
    ReleaseMemImgRef(&g_screenImages.workAlpha);
    g_drawSettings.softDrawTarget = nullptr;
}

int32_t CreateSoftwareScreen()
{
    int32_t width = 0;
    int32_t height = 0;
    GetConfiguredScreenSize(&width, &height);
    const int kind = GetConfiguredColorBits() == 16 ? kMemImgRgb565 : kMemImgXrgb32;
    ReleaseSoftwareScreen();
    if (CreatePlainMemImg(&g_screenImages.primary, width, height, kind) != 0) {
        // Refused, not fatal: a running mode change then falls back to a mode that works,
        // and a failing start-up still returns to the application, which saves its state.
        return AppendLog(L"プライマリサーフェス用の MEMIMG の作成に失敗しました\n");
    }
    // Blended and anti-aliased text is drawn through these: without them no text could be.
    g_screenImages.workAlpha = MEMIMG{};
    if (CreatePlainMemImg(&g_screenImages.work, width, height, kind) != 0 ||
        CreateMemImgWithOptions(&g_screenImages.workAlpha, width, height, -1, 0, kind, 0, 1, 0, nullptr) != 0) {
        ReleaseSoftwareScreen();
        return AppendLog(L"テキスト描画用の作業 MEMIMG の作成に失敗しました\n");
    }
    const uint32_t background = kWindowBackgroundColor;
    FillMemImgPixels(&g_screenImages.primary, nullptr,
                     EncodePixelColor(g_screenImages.primary.store->format, background >> 16 & 0xFF,
                                      background >> 8 & 0xFF, background & 0xFF, 255));
    g_drawSettings.softDrawTarget = &g_screenImages.primary;
    return 0;
}

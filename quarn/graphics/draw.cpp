// The drawing front end: clearing the draw target, the clip rectangle, colour fills and the
// graph draws. Every draw checks its handle and the draw state, runs the hooks around it
// (movie frame, mask, subtract emulation) and hands the pixels to the render back end's quads;
// the software back end's quads run the software kernels.
#include "quarn/graphics/graph.h"

#include "quarn/core/core.h"
#include "quarn/graphics/graph_platform.h"
#include "quarn/graphics/graphics.h"
#include "quarn/graphics/mask.h"
#include "quarn/graphics/render_backend.h"
#include "quarn/sound/movie.h"

namespace {

// The clip corners as last asked for, before ordering and clamping.
int32_t s_requestedClip[4];

// Draw areas open now: the glyphs of a text draw inside the text's.
int32_t s_openDrawAreas = 0;

int32_t Sum(int64_t value) { return SaturateToInt32(value); }

int32_t ClampByte(int32_t value) { return value < 0 ? 0 : value > 255 ? 255 : value; }

// Any nonzero flag asks for transparency; the kernels' run-length path needs exactly 1.
int32_t NormalizeFlag(int32_t flag) { return flag != 0 ? 1 : 0; }

enum class DrawShape { At, Stretched, FourCorners };

struct GraphDraw {
    DrawShape shape;
    int32_t corners[8];     // At: x, y; Stretched: x1, y1, x2, y2 (integer forms)
    float floatCorners[8];  // FourCorners: top-left, top-right, bottom-left, bottom-right
    int32_t wholePixel;
};

PixelRect DrawArea(const GraphRecord* graph, const GraphDraw& draw)
{
    const int32_t* c = draw.corners;
    switch (draw.shape) {
    case DrawShape::At:
        return PixelRect{c[0], c[1], Sum(int64_t{c[0]} + graph->width), Sum(int64_t{c[1]} + graph->height)};
    case DrawShape::Stretched:
        return PixelRect{c[0] < c[2] ? c[0] : c[2], c[1] < c[3] ? c[1] : c[3], c[0] < c[2] ? c[2] : c[0],
                         c[1] < c[3] ? c[3] : c[1]};
    case DrawShape::FourCorners: {
        PixelRect r{0xFFFFFF, 0xFFFFFF, 0, 0};
        for (int32_t i = 0; i < 4; ++i) {
            const int32_t x = TruncateFloatToInt(draw.floatCorners[2 * i]);
            const int32_t y = TruncateFloatToInt(draw.floatCorners[2 * i + 1]);
            if (x < r.left) r.left = x;
            if (y < r.top) r.top = y;
            if (x > r.right) r.right = x;
            if (y > r.bottom) r.bottom = y;
        }
        return r;
    }
    }
    return PixelRect{};
}

int32_t DrawOnce(const GraphRecord* graph, const GraphDraw& draw, int32_t transparent)
{
    const int32_t* c = draw.corners;
    const float* f = draw.floatCorners;
    const RenderBackend* backend = CurrentRenderBackend();
    switch (draw.shape) {
    case DrawShape::At: return backend->drawQuad(graph, c[0], c[1], f[0], f[1], transparent, draw.wholePixel);
    case DrawShape::Stretched: return backend->drawStretchedQuad(graph, c, f, transparent, draw.wholePixel);
    case DrawShape::FourCorners: return backend->drawFourCornersQuad(graph, f, transparent);
    }
    return -1;
}

// The sequence every graph draw shares once the library is known to be started.
int32_t RunGraphDraw(int32_t handle, const GraphDraw& draw, int32_t transparent)
{
    if (g_drawSettings.drawingDisabled || g_drawSettings.emptyClip) {
        return 0;
    }
    const GraphRecord* graph = FindGraphRecord(handle);
    if (graph == nullptr || graph->image == nullptr) {
        return -1;
    }
    if (g_drawSettings.blendGraph != -1 && TestBlendGraphSize(graph) != 0) {
        return -1;
    }
    const PixelRect area = DrawArea(graph, draw);
    WaitForActiveWindow();
    if (graph->movie != -1) {
        AdvanceMovieFrame(graph->movie);
    }
    const DrawAreaScope scope = OpenDrawArea(area, 1);
    const int32_t result = DrawOnce(graph, draw, NormalizeFlag(transparent));
    CloseDrawArea(scope);
    return result;
}

GraphDraw StretchedDraw(int32_t x1, int32_t y1, int32_t x2, int32_t y2, float f1, float f2, float f3, float f4,
                        int32_t wholePixel)
{
    GraphDraw draw{};
    draw.shape = DrawShape::Stretched;
    draw.corners[0] = x1;
    draw.corners[1] = y1;
    draw.corners[2] = x2;
    draw.corners[3] = y2;
    draw.floatCorners[0] = f1;
    draw.floatCorners[1] = f2;
    draw.floatCorners[2] = f3;
    draw.floatCorners[3] = f4;
    draw.wholePixel = wholePixel;
    return draw;
}

}  // namespace

DrawAreaScope OpenDrawArea(const PixelRect& area, int32_t subtract)
{
    DrawAreaScope scope{area, 0, 0};
    if (s_openDrawAreas++ > 0) {
        return scope;
    }
    scope.outermost = 1;
    if (g_drawSettings.maskingActive) {
        PrepareMaskedDrawArea(&area);
    }
    const RenderBackend* backend = CurrentRenderBackend();
    if (subtract && g_drawSettings.blendMode == kBlendModeSubtract && backend->subtractNeedsEmulation()) {
        scope.inverted = 1;
        backend->invertAreaBeforeSubtract(&area);
    }
    return scope;
}

void CloseDrawArea(const DrawAreaScope& scope)
{
    --s_openDrawAreas;
    if (!scope.outermost) {
        return;
    }
    if (scope.inverted) {
        CurrentRenderBackend()->invertAreaAfterSubtract(&scope.area);
    }
    if (g_drawSettings.maskingActive) {
        CommitMaskedDrawArea(&scope.area);
    }
}

int WipeDrawScreen(const PixelRect* area)
{
    if (area != nullptr && (area->left < 0 || area->top < 0)) {
        area = nullptr;
    }
    CurrentRenderBackend()->wipe(area);
    return 0;
}

int SetDrawClipRect(int x1, int y1, int x2, int y2)
{
    if (g_drawSettings.drawingDisabled) {
        return 0;
    }
    // The target must still exist; its size bounds the rectangle.
    const int32_t target = g_drawSettings.drawTarget;
    if (target != kDrawTargetBackScreen && target != kDrawTargetFrontScreen && FindGraphRecord(target) == nullptr) {
        return -1;
    }
    s_requestedClip[0] = x1;
    s_requestedClip[1] = y1;
    s_requestedClip[2] = x2;
    s_requestedClip[3] = y2;
    StoreDrawClipRect(x1, y1, x2, y2);
    if (g_drawSettings.emptyClip) {
        return 0;
    }
    return CurrentRenderBackend()->applyClip();
}

int32_t GetRequestedDrawClipRect(int32_t corners[4])
{
    for (int32_t i = 0; i < 4; ++i) {
        corners[i] = s_requestedClip[i];
    }
    return 0;
}

int PaintGraphColor(int graphHandle, int red, int green, int blue, int alpha)
{
    GraphRecord* graph = FindGraphRecord(graphHandle);
    if (graph == nullptr || graph->image == nullptr) {
        return -1;
    }
    red = ClampByte(red);
    green = ClampByte(green);
    blue = ClampByte(blue);
    alpha = ClampByte(alpha);
    return CurrentRenderBackend()->paint(graph, red, green, blue, alpha);
}

int DrawGraphAt(int x, int y, int graph, int transparent)
{
    if (!GraphLibraryStarted()) {
        return -1;
    }
    GraphDraw draw{};
    draw.shape = DrawShape::At;
    draw.corners[0] = x;
    draw.corners[1] = y;
    draw.floatCorners[0] = static_cast<float>(x);
    draw.floatCorners[1] = static_cast<float>(y);
    draw.wholePixel = 1;
    return RunGraphDraw(graph, draw, transparent);
}

int DrawGraphStretched(int x1, int y1, int x2, int y2, int graph, int transparent)
{
    return RunGraphDraw(graph,
                        StretchedDraw(x1, y1, x2, y2, static_cast<float>(x1), static_cast<float>(y1),
                                      static_cast<float>(x2), static_cast<float>(y2), 1),
                        transparent);
}

int DrawGraphStretchedFloat(float x1, float y1, float x2, float y2, int graph, int transparent)
{
    return RunGraphDraw(graph,
                        StretchedDraw(TruncateFloatToInt(x1), TruncateFloatToInt(y1), TruncateFloatToInt(x2),
                                      TruncateFloatToInt(y2), x1, y1, x2, y2, 0),
                        transparent);
}

int DrawGraphMirrored(int x, int y, int graph, int transparent)
{
    const GraphRecord* record = FindGraphRecord(graph);
    const int32_t width = record != nullptr ? record->width : 0;
    const int32_t height = record != nullptr ? record->height : 0;
    // Past the largest coordinate the rectangle keeps its size and moves back onto it: it lies
    // beyond every clip rectangle either way, where a size cut to nothing would be refused as
    // a flat rectangle on the device.
    const int32_t right = Sum(int64_t{x} + width);
    const int32_t bottom = Sum(int64_t{y} + height);
    return DrawGraphStretched(right, bottom - height, right - width, bottom, graph, transparent);
}

int DrawGraphPortion(int x, int y, int srcX, int srcY, int width, int height, int graph, int transparent, int mirror)
{
    const PixelRect saved = g_drawSettings.clip;
    PixelRect portion{x, y, Sum(int64_t{x} + width), Sum(int64_t{y} + height)};
    const PixelRect bound{saved.left, saved.top, saved.right, saved.bottom};
    ClampRectInsideRect(&portion, &bound);
    int32_t result = 0;
    if (portion.right > portion.left && portion.bottom > portion.top) {
        g_drawSettings.clip = portion;
        if (!mirror) {
            result = DrawGraphAt(Sum(int64_t{x} - srcX), Sum(int64_t{y} - srcY), graph, transparent);
        } else {
            const GraphRecord* record = FindGraphRecord(graph);
            result = record == nullptr ? -1
                                       : DrawGraphMirrored(Sum(int64_t{x} - record->width + srcX + width),
                                                           Sum(int64_t{y} - srcY), graph, transparent);
        }
    } else if (FindGraphRecord(graph) == nullptr) {
        // Nothing of the portion is inside the clip rectangle: only a bad handle is an error.
        result = -1;
    }
    g_drawSettings.clip = saved;
    return result;
}

int DrawGraphPortionStretched(float x1, float y1, float x2, float y2, int srcX, int srcY, int width, int height,
                              int graph, int transparent)
{
    const int32_t portion = CreateSubGraph(srcX, srcY, width, height, graph);
    if (portion < 0) {
        return -1;
    }
    if (portion == 0) {
        return 0;  // drawing is disabled
    }
    const int32_t result = DrawGraphStretchedFloat(x1, y1, x2, y2, portion, transparent);
    DestroyGraph(portion);
    return result;
}

int DrawGraphFourCorners(float x1, float y1, float x2, float y2, float x3, float y3, float x4, float y4, int graph,
                         int transparent)
{
    // Clockwise from the top-left; passed on as top-left, top-right, bottom-left, bottom-right.
    GraphDraw draw{};
    draw.shape = DrawShape::FourCorners;
    const float corners[8] = {x1, y1, x2, y2, x4, y4, x3, y3};
    for (int32_t i = 0; i < 8; ++i) {
        draw.floatCorners[i] = corners[i];
    }
    return RunGraphDraw(graph, draw, transparent);
}

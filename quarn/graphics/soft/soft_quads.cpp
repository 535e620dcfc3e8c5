// The software back end's drawing: graphs through the software kernels into the draw target
// image, wipes and colour fills of its images, and the blend graph's weighting table.
#include "quarn/core/core.h"
#include "quarn/graphics/graph.h"
#include "quarn/graphics/graphics.h"
#include "quarn/graphics/render_backend.h"
#include "quarn/graphics/soft/soft_graph.h"

namespace {

// Where software drawing goes: the screen image, the target graph's view or the mask image.
MEMIMG* SoftDrawTarget() { return g_drawSettings.softDrawTarget; }

}  // namespace

int32_t SoftDrawGraph(const GraphRecord* graph, int32_t x, int32_t y, int32_t transparent)
{
    RenderMemImg(SoftDrawTarget(), SoftViewOf(graph), x, y, transparent, SelectedBlendMemImg());
    return 0;
}

int32_t SoftDrawGraphStretched(const GraphRecord* graph, int32_t x1, int32_t y1, int32_t x2, int32_t y2,
                               int32_t transparent)
{
    const int32_t corners[4] = {x1, y1, x2, y2};
    RenderMemImgScaled(SoftDrawTarget(), SoftViewOf(graph), corners, transparent, SelectedBlendMemImg());
    return 0;
}

int32_t SoftDrawGraphFourCorners(const GraphRecord* graph, float x1, float y1, float x2, float y2, float x3, float y3,
                                 float x4, float y4, int32_t transparent)
{
    return SoftDrawGraphTriangles(graph, TruncateFloatToInt(x1), TruncateFloatToInt(y1), TruncateFloatToInt(x2),
                                  TruncateFloatToInt(y2), TruncateFloatToInt(x3), TruncateFloatToInt(y3),
                                  TruncateFloatToInt(x4), TruncateFloatToInt(y4), transparent);
}

int32_t SoftDrawGraphTriangles(const GraphRecord* graph, int32_t x1, int32_t y1, int32_t x2, int32_t y2, int32_t x3,
                               int32_t y3, int32_t x4, int32_t y4, int32_t transparent)
{
    // Corners top-left, top-right, bottom-left, bottom-right with their texels; two triangles
    // sharing the top-right to bottom-left diagonal.
    const MemImgVertex v[4] = {
        {x1, y1, 0, 0},
        {x2, y2, graph->width, 0},
        {x3, y3, 0, graph->height},
        {x4, y4, graph->width, graph->height},
    };
    MEMIMG* target = SoftDrawTarget();
    const MEMIMG* mask = SelectedBlendMemImg();
    RenderMemImgTriangle(target, SoftViewOf(graph), &v[0], transparent, mask, 0);
    RenderMemImgTriangle(target, SoftViewOf(graph), &v[1], transparent, mask, 0);
    return 0;
}

int32_t SoftWipeDrawTarget(const PixelRect* area)
{
    GraphRecord* target = FindGraphRecord(g_drawSettings.drawTarget);
    MEMIMG* image = target != nullptr ? SoftViewOf(target) : &g_screenImages.primary;
    if (!TestMemImgValid(image)) {
        return 0;
    }
    const uint32_t background = kWindowBackgroundColor;
    const uint32_t value = EncodePixelColor(image->store->format, (background >> 16) & 0xFF, (background >> 8) & 0xFF,
                                            background & 0xFF, 0);
    FillMemImgPixels(image, area, value);
    return 0;
}

int32_t SoftPaintGraph(GraphRecord* graph, int32_t red, int32_t green, int32_t blue, int32_t alpha)
{
    // The colour in the graph's own pixel form: a graph may have other colour bits than the
    // screen.
    const PixelRect whole{0, 0, graph->width, graph->height};
    MEMIMG* view = SoftViewOf(graph);
    const MemImgBase* store = view->store;
    if (store->alpha) {
        // The fill kernel blends only into images without alpha; an image with an alpha
        // channel takes the colour with the alpha asked for, as a texture on the device does.
        FillMemImgPixels(view, &whole, EncodePixelColor(store->format, red, green, blue, alpha));
        return 0;
    }
    const ColorFormat* format = GetMemImgColorFormat(store->kind, 0, 0);
    RenderMemImgFillRect(view, &whole, EncodePixelColor(format, red, green, blue, 255));
    return 0;
}

int32_t SoftDrawQuad(const GraphRecord* graph, int32_t x, int32_t y, float, float, int32_t transparent, int32_t)
{
    return SoftDrawGraph(graph, x, y, transparent);
}

int32_t SoftDrawStretchedQuad(const GraphRecord* graph, const int32_t corners[4], const float[4], int32_t transparent,
                              int32_t)
{
    return SoftDrawGraphStretched(graph, corners[0], corners[1], corners[2], corners[3], transparent);
}

int32_t SoftDrawFourCornersQuad(const GraphRecord* graph, const float f[8], int32_t transparent)
{
    return SoftDrawGraphFourCorners(graph, f[0], f[1], f[2], f[3], f[4], f[5], f[6], f[7], transparent);
}

int32_t SoftSelectBlendGraph(int32_t, int32_t borderPos, int32_t borderRange)
{
    BuildBlendMaskAlphaTable(borderPos, borderRange);
    return 0;
}

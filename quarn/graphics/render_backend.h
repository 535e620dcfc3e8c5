// The renderer seam: the operations the drawing front end needs from a renderer, as one table
// per back end. The software renderer is one back end; a device back end adds another. The
// front end calls the chosen back end without asking which one it is; the hardware-active flag
// of the screen settings follows the back end that started.
//
// Portable: the software back end builds without the OS headers (its screen's start and
// present are the platform's, see graph_platform.h).
#pragma once

#include <cstdint>

#include "quarn/graphics/graph.h"
#include "quarn/graphics/graphics.h"

struct TexturePiece;

// The draw-state changes a back end is told of.
enum RenderStateChange : int32_t {
    kRenderBlendInputs = 0,  // blend mode, parameter or bright colour
    kRenderFilterMode = 1,
    kRenderFog = 2,
};

// What a present shows: area in client coordinates or null, mappedSource its rectangle in the
// picture; source and destination the whole-picture rectangles; doubled 1 while a 320 x 240
// picture is shown at 640 x 480.
struct PresentRequest {
    const PixelRect* area;
    const PixelRect* mappedSource;
    PixelRect source;
    PixelRect destination;
    int32_t doubled;
};

// What a font's glyph cache is made of on a renderer.
enum GlyphCacheKind : int32_t {
    kGlyphCacheMemory = 0,   // one MEMIMG the software kernels blit from
    kGlyphCacheTexture = 1,  // a graph drawn as textured quads
};

struct RenderBackend {
    const char* name;
    int32_t hardware;  // 1 for a device back end: the hardware-active flag while it runs
    GlyphCacheKind glyphCache;
    // The pixel format a font's glyph texture cache is written in before it is uploaded: with
    // an alpha channel for antialiased glyphs, an alpha bit for plain ones.
    const ColorFormat* (*glyphCacheFormat)(int32_t antialiased);

    // ---- Start and stop
    // Brings the renderer up once the screen mode is set, its device (if any) included: 0, or
    // -1 with everything of it released again, and the next back end in the list is tried.
    int32_t (*start)();
    // The screen to draw on, once graphics count as started: 0, or -1.
    int32_t (*makeScreen)();
    // Releases what start made.
    int32_t (*stop)();
    // Puts what the back end keeps across starts back to a fresh process's, at the end of
    // graphics (after stop) and in the tests' fixtures, whichever back end is in use.
    void (*reset)();

    // ---- Draw state and target
    int32_t (*applyDrawState)(int32_t change);
    int32_t (*selectBlendGraph)(int32_t graph, int32_t borderPos, int32_t borderRange);
    // Binds the draw target: a graph (info filled) or one of the screens (-2 to -5).
    int32_t (*selectTarget)(int32_t target, const GraphDrawInfo* info);

    // ---- Drawing
    int32_t (*wipe)(const PixelRect* area);  // null area: the whole target
    int32_t (*applyClip)();                  // the clip rectangle of the draw state
    int32_t (*paint)(GraphRecord* graph, int32_t red, int32_t green, int32_t blue, int32_t alpha);
    int32_t (*drawQuad)(const GraphRecord* graph, int32_t x, int32_t y, float fx, float fy, int32_t transparent,
                        int32_t wholePixel);
    int32_t (*drawStretchedQuad)(const GraphRecord* graph, const int32_t corners[4], const float floatCorners[4],
                                 int32_t transparent, int32_t wholePixel);
    // Corners in the order top-left, top-right, bottom-left, bottom-right.
    int32_t (*drawFourCornersQuad)(const GraphRecord* graph, const float corners[8], int32_t transparent);
    // 1 when kBlendModeSubtract has to be emulated by inverting the area around the draw.
    int32_t (*subtractNeedsEmulation)();
    void (*invertAreaBeforeSubtract)(const PixelRect* area);
    void (*invertAreaAfterSubtract)(const PixelRect* area);
    // Draws what is batched, before pixels change under it.
    void (*flush)();

    // ---- Present
    int32_t (*present)(const PresentRequest* request);
    // Full screen: makes sure the picture survives the present. 0 / -1.
    int32_t (*keepPicture)();

    // ---- Images
    // A new image of width x height for a graph that has none: the format request, the record
    // and its pixels, set as the graph's image at (0, 0) with the full size. 0, or -1 (the
    // caller destroys the graph, which releases what was made).
    int32_t (*makeImage)(GraphRecord* graph, int32_t width, int32_t height, int32_t levels, int32_t alpha,
                         int32_t paletted, int32_t compression);
    // Writes the picture's rectangle (left, top, width, height) into the graph at (destX, destY).
    int32_t (*uploadImage)(GraphRecord* graph, const BaseImage* image, const BaseImage* alpha, int32_t left,
                           int32_t top, int32_t width, int32_t height, int32_t destX, int32_t destY);
    // Releases the pixels of an image whose last reference went.
    void (*releaseImage)(GraphImage* image);
    // The graph's facts that depend on how its image is held (info's images and texture flag).
    void (*describeImage)(GraphRecord* graph, GraphDrawInfo* info);
    // Makes the graph's view of its rectangle of the image: 0, or -1 with its log line.
    int32_t (*viewImage)(GraphRecord* graph);
    // Releases the graph's view (none made is fine), before the graph lets go of its image.
    void (*releaseView)(GraphRecord* graph);

    // ---- The mask screen (mask.h keeps the mask bytes and the flags; the renderer keeps what
    // drawing under the mask goes through). Each 0, or -1 when the renderer refused.
    // Makes what is missing of the work image or surface for the mask screen, with the mask
    // bytes where the renderer reads them.
    int32_t (*buildMask)();
    // Releases what buildMask made.
    void (*releaseMask)();
    // The mask bytes of the area (kept inside the mask screen) changed.
    int32_t (*uploadMask)(const PixelRect* area);
    // Drawing goes into the work image or surface from now on.
    int32_t (*targetMaskWork)();
    // Before a draw: the area (clipped, not empty) of the draw target copied into the work.
    void (*prepareMask)(const PixelRect* area);
    // After it: the area of the work written back into the draw target where the mask lets
    // it through.
    int32_t (*commitMask)(const PixelRect* area);
};

// The software renderer's back end (soft/).
extern const RenderBackend kSoftwareRenderBackend;
// The Direct3D 9 device's back end (d3d9/). Windows build only.
extern const RenderBackend kDeviceRenderBackend;

// The back ends of the build in the order graphics start tries them: device back ends first,
// the software renderer, which needs no device, last.
extern const RenderBackend* const kRenderBackendOrder[];
extern const int32_t kRenderBackendCount;

// The back end in use: the software one until a device back end starts.
const RenderBackend* CurrentRenderBackend();
// Chooses the back end (start-up, shut-down, and tests that put a recording one in place);
// the hardware-active flag follows it.
void UseRenderBackend(const RenderBackend* backend);
// The back end that made an image (the one in use for an image made by hand).
const RenderBackend* ImageRenderBackend(const GraphImage* image);

// ---- The software back end's operations, beside the code they belong with
int32_t SoftMakeGraphImage(GraphRecord* graph, int32_t width, int32_t height, int32_t levels, int32_t alpha,
                           int32_t paletted, int32_t compression);
int32_t SoftUploadGraphImage(GraphRecord* graph, const BaseImage* image, const BaseImage* alpha, int32_t left,
                             int32_t top, int32_t width, int32_t height, int32_t destX, int32_t destY);
void SoftReleaseGraphImage(GraphImage* image);
int32_t SoftWipeDrawTarget(const PixelRect* area);
int32_t SoftPaintGraph(GraphRecord* graph, int32_t red, int32_t green, int32_t blue, int32_t alpha);
int32_t SoftDrawQuad(const GraphRecord* graph, int32_t x, int32_t y, float fx, float fy, int32_t transparent,
                     int32_t wholePixel);
int32_t SoftDrawStretchedQuad(const GraphRecord* graph, const int32_t corners[4], const float floatCorners[4],
                              int32_t transparent, int32_t wholePixel);
int32_t SoftDrawFourCornersQuad(const GraphRecord* graph, const float f[8], int32_t transparent);
int32_t SoftSelectBlendGraph(int32_t graph, int32_t borderPos, int32_t borderRange);
void SoftDescribeGraphImage(GraphRecord* graph, GraphDrawInfo* info);
int32_t SoftViewGraphImage(GraphRecord* graph);
void SoftReleaseGraphView(GraphRecord* graph);
int32_t SoftBuildMask();
void SoftReleaseMask();
int32_t SoftTargetMaskWork();
void SoftPrepareMask(const PixelRect* area);
int32_t SoftCommitMask(const PixelRect* area);
// The software screen: the primary image and the two work images at the configured size and
// colour bits, the primary cleared to the window's background and made the draw target.
// 0, or -1 when the primary image cannot be made (a screen too large for memory).
int32_t CreateSoftwareScreen();
void ReleaseSoftwareScreen();
// Platform parts of the software screen (Windows: the display mode and GDI; the native build
// has no screen and does nothing).
// Full screen: switches the display mode; then measures the refresh period. 0, or -1.
int32_t StartSoftwareScreen();
// Shows the primary image in the window. 0, or -1.
int32_t PresentSoftwareScreen(const PresentRequest* request);

// ---- The device back end's quads (portable: they reach the device through the state cache and
// the vertex batch). Each graph piece is one textured quad; -1 without a device.
int32_t DrawGraphQuad(const GraphRecord* graph, int32_t x, int32_t y, float fx, float fy, int32_t transparent,
                      int32_t wholePixel);
// -1 also for a zero-width or zero-height rectangle. Reversed corners mirror the graph.
int32_t DrawGraphStretchedQuad(const GraphRecord* graph, const int32_t corners[4], const float floatCorners[4],
                               int32_t transparent, int32_t wholePixel);
// Corners top-left, top-right, bottom-left, bottom-right; clipped by the viewport only.
int32_t DrawGraphFourCornersQuad(const GraphRecord* graph, const float corners[8], int32_t transparent);
// With a blend graph: the truncated corners (same order); the blend graph's coordinates follow
// the graph's pixels exactly. An upright rectangle is drawn stretched.
int32_t DrawGraphFourCornersBlend(const GraphRecord* graph, const int32_t corners[8], int32_t transparent);
// One piece onto four corners: two triangles for a parallelogram, else an 8 x 8 vertex grid.
int32_t DrawPieceFreeQuad(const TexturePiece* piece, const float corners[8]);
// An untextured box of the colour value (screen format) under the blend mode, inside the clip.
int32_t DrawFilledBoxQuad(int32_t x1, int32_t y1, int32_t x2, int32_t y2, uint32_t color);
// kBlendModeSubtract on a device without reverse subtraction: the area is inverted before and
// after an added draw.
void InvertAreaBeforeSubtract(const PixelRect* area);
void InvertAreaAfterSubtract(const PixelRect* area);

// Software renderer: memory images over shared pixel stores, the blend lookup tables and the
// kernels that draw one memory image into another. Portable: no OS headers.
#pragma once

#include <cstddef>
#include <cstdint>

#include "quarn/image/image.h"
#include "quarn/softrender/blend_mode.h"

struct MEMIMG;

// No draw-bright colour: the low 24 bits of the bright colour word all set.
constexpr uint32_t kNoBrightColor = 0xFFFFFF;

// What a kernel draws under, passed by value so that the kernels read no global state. The
// drawing front end fills it from the draw settings once per draw.
struct SoftBlendState {
    BlendMode blendMode;                    // 0 to 4, 10 and 11 draw; other values draw nothing
    int32_t blendParam;                     // 0 to 255
    uint32_t brightColor = kNoBrightColor;  // its low 24 bits 0x00RRGGBB
    PixelRect clip;                         // right and bottom exclusive
    // The rectangle fill keeps to the clip only when drawing into this view (the software
    // draw target); the blits always keep to it.
    const MEMIMG* clipTarget;
};

constexpr uint32_t kMemImgMagic = 0x12345678;

// Store kinds.
enum : int32_t {
    kMemImgRgb565 = 0,  // u16 RGB565 (with alpha: u16 colour, u8 alpha, u8 spare)
    kMemImgXrgb32 = 1,  // blue, green, red, fourth byte (the alpha with an alpha channel)
    kMemImgGrey8 = 2,   // one 8-bit channel (blend masks)
    kMemImgGrey16 = 3,  // one 16-bit channel
};

// The shared, reference-counted pixel store. The fields up to runTable keep this order:
// other subsystems read them by position.
struct MemImgBase {
    int32_t refCount;
    int32_t width;
    int32_t height;
    int32_t pitch;
    int32_t log2Pitch;  // n when pitch is 2^n (see creation), else -1
    const ColorFormat* format;
    uint32_t transparentColor;  // raw pixel value, or palette index when paletted
    int32_t kind;
    int32_t paletted;
    int32_t paletteCount;
    int32_t alpha;
    int32_t premultipliedValid;
    int32_t runsValid;
    int32_t callerOwnedPixels;
    uint8_t* palette;        // 2048-byte zeroed block, entries in the store's colour form
    uint8_t* secondPalette;  // palette + 1024
    uint8_t* pixels;         // pitch x height
    uint8_t* premultiplied;  // pitch x height, or null
    uint8_t* runTable;       // (width + 5) x height, or null

    // The view the run table was built from: the runs describe exactly those pixels and no
    // other view of the store may replay them.
    const uint8_t* runsViewPixels;
    int32_t runsViewWidth;
    int32_t runsViewHeight;
};

// A view over a store. Owners embed it; it starts all zero.
struct MEMIMG {
    uint32_t magic;
    int32_t width;
    int32_t height;
    uint8_t* pixels;
    uint8_t* premultiplied;
    MemImgBase* store;
};

// Run bytes of the per-line run table.
constexpr uint8_t kRunSkip = 0x00;
constexpr uint8_t kRunDraw = 0x40;
constexpr uint8_t kRunBlend = 0x80;
constexpr uint8_t kRunEndOfLine = 0xC0;

// Blend lookup tables, read by every software kernel.
extern uint32_t BlendScaleTable[256][256];       // [k][x] = x * k / 255
extern int32_t BlendSignedScaleTable[256][512];  // [k][255 + d] = d * k / 255, d = -255..255
extern uint8_t BlendLerp6Table[64][64][64];      // [i][a][b] = (a * i + b * (63 - i)) / 63
extern uint8_t BlendMaskAlphaTable[256];         // mask value to blend weight

int BuildMemImgBlendTables();
void BuildBlendMaskAlphaTable(int borderPos, int borderRange);

int CreateMemImgWithOptions(MEMIMG* view, int width, int height, int pitch, uint32_t transparentColor, int kind,
                            int paletted, int alpha, int build, uint8_t* callerPixels);
// Kind -1 follows the configured colour depth: kind 0 at 16 bits, else kind 1.
int CreatePlainMemImg(MEMIMG* view, int width, int height, int kind);
void MakeMemImgView(MEMIMG* out, const MEMIMG* src, int x, int y, int width, int height);
int TestMemImgValid(const MEMIMG* view);
void ReleaseMemImgRef(MEMIMG* view);
void FillMemImgPixels(MEMIMG* view, const PixelRect* rect, uint32_t value);
int ConvertCopyMemImg(MEMIMG* dst, const MEMIMG* src, const PixelRect* srcRect, int dstX, int dstY);
// 0, or -1 when nothing was loaded: a rectangle outside either image or the view, block-
// compressed pixels (expanded by the caller first) or a failed conversion.
int LoadBaseImageIntoMemImg(const BaseImage* image, const BaseImage* alphaImage, MEMIMG* view, int srcX, int srcY,
                            int width, int height, int dstX, int dstY, int option);
const ColorFormat* GetMemImgColorFormat(int kind, int alpha, int paletted);

// Bytes per pixel of a store of this kind and options.
int MemImgBytesPerPixel(int kind, int paletted, int alpha);

// Computes the premultiplied pixels (stores with alpha) and the run table over the whole view,
// and marks both valid for exactly this view. Used after a whole-view load.
void BuildMemImgLineRuns(MEMIMG* view);

// Marks the store's derived data (runs, premultiplied pixels) stale after its pixels changed.
void MarkMemImgPixelsChanged(MemImgBase* store);

// Whether the blit kernels use MMX: the library's MMX decision, where the build has the MMX
// forms.
int GetSoftRenderMmx();

// Draws src into dst with its top-left pixel at (x, y), unscaled, under the blend mode,
// parameter, bright colour and clip of the state.
void RenderMemImg(const SoftBlendState& state, MEMIMG* dst, const MEMIMG* src, int x, int y, int transparent,
                  const MEMIMG* mask);

// Fills a rectangle (corners in either order; null for the whole view) with a colour in the
// view's own layout (0x00RRGGBB-style word for 32-bit, RGB565 for 16-bit) under the blend
// state. The clip applies when the view is the state's clip target.
void RenderMemImgFillRect(const SoftBlendState& state, MEMIMG* dst, const PixelRect* rect, uint32_t color);

// Draws the whole source into the rectangle between the corners {x1, y1, x2, y2}, scaled
// by picking one source pixel per destination pixel; reversed corners mirror that axis.
void RenderMemImgScaled(const SoftBlendState& state, MEMIMG* dst, const MEMIMG* src, const int32_t corners[4],
                        int transparent, const MEMIMG* mask);

// ---- Triangles ----

// A triangle corner: destination pixel (x, y) and source texel (u, v).
struct MemImgVertex {
    int32_t x;
    int32_t y;
    int32_t u;
    int32_t v;
};

// Draws one triangle into dst under the blend mode, parameter, bright colour and clip of the
// state: affinely texture-mapped from src, or filled with flatColor (a 32-bit colour
// word, or RGB565 in the low 16 bits for a 16-bit destination) when src is null.
// Pixel (c, r) is drawn when the point (c + 1/2, r) lies inside the triangle; a point on an
// edge that two triangles share is drawn by exactly one of them, so a mesh covers each pixel
// once. Pixel (c, r) takes the texel at the texture coordinates of the point (c, r).
// The blend mask is read one byte a texel at the texel's coordinates. Nothing is drawn for a
// coordinate outside +-kMemImgTriangleCoordLimit, more than 8192 texels a pixel, a source
// wider or higher than 8192, or a mask smaller than the source.
constexpr int32_t kMemImgTriangleCoordLimit = 1 << 22;
void RenderMemImgTriangle(const SoftBlendState& state, MEMIMG* dst, const MEMIMG* src, const MemImgVertex* vertices,
                          int transparent, const MEMIMG* mask, uint32_t flatColor);

// Memory images: creation, views, release, filling, run tables and the blend lookup tables.
#include "quarn/softrender/softrender.h"

#include <cstring>

#include "quarn/core/core.h"
#include "quarn/core/screen_settings.h"

#include "quarn/softrender/blend_ops.h"
#include "quarn/softrender/simd_rows.h"

uint32_t BlendScaleTable[256][256];
int32_t BlendSignedScaleTable[256][512];
uint8_t BlendLerp6Table[64][64][64];
uint8_t BlendMaskAlphaTable[256];

namespace {

void* StoreAlloc(size_t size) { return AllocTrackedMemory(static_cast<uint32_t>(size), "", 0); }
void* StoreAllocZeroed(size_t size) { return AllocTrackedMemoryZeroed(static_cast<uint32_t>(size), "", 0); }
void StoreFree(void* p) { FreeTrackedMemory(p); }

// Frees every block the store owns and the store itself.
void FreeStore(MemImgBase* store)
{
    if (!store->callerOwnedPixels) StoreFree(store->pixels);
    StoreFree(store->premultiplied);
    StoreFree(store->runTable);
    StoreFree(store->palette);
    StoreFree(store);
}

// n when pitch is the smallest power of two not below rowBytes, else -1.
int Log2Pitch(int64_t rowBytes, int64_t pitch)
{
    int n = 0;
    while ((int64_t{1} << n) < rowBytes) ++n;
    return (int64_t{1} << n) == pitch ? n : -1;
}

}  // namespace

int BuildMemImgBlendTables()
{
    for (int k = 0; k < 256; ++k) {
        for (int d = -255; d <= 255; ++d) BlendSignedScaleTable[k][255 + d] = d * k / 255;
        BlendSignedScaleTable[k][511] = 0;
    }
    for (int k = 0; k < 256; ++k)
        for (int x = 0; x < 256; ++x) BlendScaleTable[k][x] = static_cast<uint32_t>(x * k / 255);
    for (int i = 0; i < 64; ++i)
        for (int a = 0; a < 64; ++a)
            for (int b = 0; b < 64; ++b) BlendLerp6Table[i][a][b] = static_cast<uint8_t>((a * i + b * (63 - i)) / 63);
    return 0;
}

void BuildBlendMaskAlphaTable(int borderPos, int borderRange)
{
    const int p = ClampInt(borderPos, 0, 255);
    const int w = ClampInt(borderRange, 0, 255);
    const int step = 65536 / (w + 1);
    const int offset = ((step + 256) * p) / 256;
    const int base = 256 - offset;
    for (int i = 0; i < 256; ++i) {
        const int entry = (i * 256) / (w + 1) + base;
        BlendMaskAlphaTable[i] = static_cast<uint8_t>(ClampInt(entry, 0, 255));
    }
}

int MemImgBytesPerPixel(int kind, int paletted, int alpha)
{
    if (kind == kMemImgGrey8) return 1;
    if (kind == kMemImgGrey16) return 2;
    if (paletted) return 1;
    if (kind == kMemImgRgb565) return alpha ? 4 : 2;
    return 4;
}

int CreateMemImgWithOptions(MEMIMG* view, int width, int height, int pitch, uint32_t transparentColor, int kind,
                            int paletted, int alpha, int build, uint8_t* callerPixels)
{
    if (view == nullptr || view->magic == kMemImgMagic) return -1;
    if (width < 1 || height < 1 || kind < 0 || kind > 3) return -1;

    if (paletted) alpha = 0;
    if (kind == kMemImgGrey8 || kind == kMemImgGrey16) paletted = alpha = 0;
    paletted = paletted ? 1 : 0;
    alpha = alpha ? 1 : 0;

    const int bpp = MemImgBytesPerPixel(kind, paletted, alpha);
    const int64_t rowBytes = int64_t{width} * bpp;
    int64_t real_pitch;
    int64_t log_row;
    if (pitch == -1) {
        real_pitch = (rowBytes + 15) / 16 * 16;
        log_row = rowBytes;
    } else {
        // A pitch shorter than a row would make lines overlap and writes run past the buffer.
        if (pitch < rowBytes) return -1;
        real_pitch = pitch;
        log_row = pitch;
    }
    const int64_t buffer_bytes = real_pitch * height;
    const int64_t run_bytes = (int64_t{width} + 5) * height;
    if (buffer_bytes > INT32_MAX || run_bytes > INT32_MAX) return -1;

    // A view whose creation failed never keeps a store, so a store pointer here is stale.
    auto* store = static_cast<MemImgBase*>(StoreAllocZeroed(sizeof(MemImgBase)));
    if (store == nullptr) return -1;
    view->store = nullptr;

    store->refCount = 1;
    store->width = width;
    store->height = height;
    store->transparentColor = transparentColor;
    store->kind = kind;
    store->paletted = paletted;
    store->alpha = alpha;
    store->pitch = static_cast<int32_t>(real_pitch);
    store->log2Pitch = Log2Pitch(log_row, real_pitch);
    store->format = GetMemImgColorFormat(kind, alpha, paletted);

    bool ok = true;
    if (paletted) {
        store->palette = static_cast<uint8_t*>(StoreAllocZeroed(2048));
        store->secondPalette = store->palette ? store->palette + 1024 : nullptr;
        ok = store->palette != nullptr;
    }
    if (ok) {
        if (callerPixels) {
            store->pixels = callerPixels;
            store->callerOwnedPixels = 1;
        } else {
            // Cleared to 0, as a new texture is: a blank graph shows the same on both renderers.
            store->pixels = static_cast<uint8_t*>(StoreAllocZeroed(static_cast<size_t>(buffer_bytes)));
            ok = store->pixels != nullptr;
        }
    }
    if (ok && build) {
        if (alpha) {
            store->premultiplied = static_cast<uint8_t*>(StoreAlloc(static_cast<size_t>(buffer_bytes)));
            ok = store->premultiplied != nullptr;
        }
        if (ok && kind != kMemImgGrey8) {
            store->runTable = static_cast<uint8_t*>(StoreAlloc(static_cast<size_t>(run_bytes)));
            ok = store->runTable != nullptr;
        }
    }
    if (!ok) {
        FreeStore(store);
        return -1;
    }

    view->magic = kMemImgMagic;
    view->width = width;
    view->height = height;
    view->pixels = store->pixels;
    view->premultiplied = store->premultiplied;
    view->store = store;
    return 0;
}

int CreatePlainMemImg(MEMIMG* view, int width, int height, int kind)
{
    if (view == nullptr) return -1;
    std::memset(view, 0, sizeof(*view));
    // Read at each call: a screen-mode change may have changed the depth since start-up.
    if (kind == -1) kind = GetConfiguredColorBits() == 16 ? kMemImgRgb565 : kMemImgXrgb32;
    return CreateMemImgWithOptions(view, width, height, -1, 0, kind, 0, 0, 0, nullptr);
}

int TestMemImgValid(const MEMIMG* view)
{
    return view != nullptr && view->magic == kMemImgMagic && view->store != nullptr ? 1 : 0;
}

void MakeMemImgView(MEMIMG* out, const MEMIMG* src, int x, int y, int width, int height)
{
    if (out == nullptr || !TestMemImgValid(src)) return;
    if (x < 0 || y < 0 || width < 0 || height < 0) return;
    if (int64_t{x} + width > src->width || int64_t{y} + height > src->height) return;
    MemImgBase* store = src->store;
    const int bpp = MemImgBytesPerPixel(store->kind, store->paletted, store->alpha);
    const ptrdiff_t offset = ptrdiff_t{store->pitch} * y + ptrdiff_t{bpp} * x;
    uint8_t* pixels = src->pixels + offset;
    uint8_t* premultiplied = store->premultiplied && src->premultiplied ? src->premultiplied + offset : nullptr;
    out->magic = kMemImgMagic;
    out->width = width;
    out->height = height;
    out->pixels = pixels;
    out->premultiplied = premultiplied;
    out->store = store;
    ++store->refCount;
}

void ReleaseMemImgRef(MEMIMG* view)
{
    if (!TestMemImgValid(view)) return;
    MemImgBase* store = view->store;
    if (--store->refCount <= 0) FreeStore(store);
    view->store = nullptr;
    view->magic = 0;
}

void MarkMemImgPixelsChanged(MemImgBase* store)
{
    store->runsValid = 0;
    store->premultipliedValid = 0;
    store->runsViewPixels = nullptr;
}

void FillMemImgPixels(MEMIMG* view, const PixelRect* rect, uint32_t value)
{
    if (!TestMemImgValid(view)) return;
    MemImgBase* store = view->store;
    const PixelRect whole{0, 0, view->width, view->height};
    PixelRect r = rect ? *rect : whole;
    ClipRectToBound(&r, whole);
    if (r.right <= r.left || r.bottom <= r.top) return;
    const int bpp = MemImgBytesPerPixel(store->kind, store->paletted, store->alpha);
    MarkMemImgPixelsChanged(store);
    if (bpp != 1 && bpp != 2 && bpp != 4) return;
    const bool sse2 = GetSoftRenderSse2() != 0;
    for (int y = r.top; y < r.bottom; ++y) {
        uint8_t* line = view->pixels + ptrdiff_t{store->pitch} * y + ptrdiff_t{bpp} * r.left;
        FillRow(line, r.right - r.left, bpp, value, sse2);
    }
}

namespace {

// Run class of one pixel: 0 skip, 1 draw, 2 blend.
int PixelRunClass(const MemImgBase* store, const uint8_t* px)
{
    if (store->paletted) return px[0] == (store->transparentColor & 0xFF) ? 0 : 1;
    if (store->alpha) {
        const uint8_t a = store->kind == kMemImgRgb565 ? px[2] : px[3];
        return a == 0 ? 0 : a == 255 ? 1 : 2;
    }
    if (store->kind == kMemImgRgb565) return LoadPixel16(px) == (store->transparentColor & 0xFFFF) ? 0 : 1;
    return LoadPixel32(px) == store->transparentColor ? 0 : 1;
}

void ComputePremultiplied(const MEMIMG* view)
{
    const MemImgBase* store = view->store;
    for (int y = 0; y < view->height; ++y) {
        const uint8_t* src = view->pixels + ptrdiff_t{store->pitch} * y;
        uint8_t* dst = view->premultiplied + ptrdiff_t{store->pitch} * y;
        for (int x = 0; x < view->width; ++x, src += 4, dst += 4) {
            if (store->kind == kMemImgRgb565) {
                const uint32_t c = LoadPixel16(src);
                const uint32_t a = src[2];
                const uint32_t v = (((c & 0xF800) * a) & 0xF80000) | (((c & 0x07E0) * a) & 0x07E000) |
                                   (((c & 0x001F) * a) & 0x1F00);
                StorePixel16(dst, static_cast<uint16_t>(v >> 8));
                dst[2] = static_cast<uint8_t>(a);
                dst[3] = 0;
            } else {
                const uint32_t a = src[3];
                dst[0] = static_cast<uint8_t>((src[0] * a) >> 8);
                dst[1] = static_cast<uint8_t>((src[1] * a) >> 8);
                dst[2] = static_cast<uint8_t>((src[2] * a) >> 8);
                dst[3] = static_cast<uint8_t>(a);
            }
        }
    }
}

}  // namespace

void BuildMemImgLineRuns(MEMIMG* view)
{
    if (!TestMemImgValid(view)) return;
    MemImgBase* store = view->store;
    MarkMemImgPixelsChanged(store);
    if (store->kind != kMemImgRgb565 && store->kind != kMemImgXrgb32) return;
    if (store->runTable == nullptr) return;
    // The table holds (store width + 5) bytes a line; a view never exceeds the store.
    if (store->alpha && store->premultiplied && view->premultiplied) {
        ComputePremultiplied(view);
        store->premultipliedValid = 1;
    }
    const int bpp = MemImgBytesPerPixel(store->kind, store->paletted, store->alpha);
    uint8_t* out = store->runTable;
    for (int y = 0; y < view->height; ++y) {
        const uint8_t* px = view->pixels + ptrdiff_t{store->pitch} * y;
        int x = 0;
        while (x < view->width) {
            const int cls = PixelRunClass(store, px + ptrdiff_t{bpp} * x);
            int n = 1;
            while (n < 64 && x + n < view->width && PixelRunClass(store, px + ptrdiff_t{bpp} * (x + n)) == cls) ++n;
            *out++ = static_cast<uint8_t>((cls << 6) | (n - 1));
            x += n;
        }
        *out++ = kRunEndOfLine;
    }
    store->runsValid = 1;
    store->runsViewPixels = view->pixels;
    store->runsViewWidth = view->width;
    store->runsViewHeight = view->height;
}

// The unscaled blit: one memory image drawn onto another under the blend settings.
//
// Every combination of pixel layout, palette, mode and option gets its own loop through the
// templates below, so the inner loops test nothing but the pixel.
#include "quarn/softrender/softrender.h"

#include <cstring>

#include "quarn/core/core.h"
#include "quarn/softrender/blend_ops.h"
#include "quarn/softrender/blit_pixel.h"
#include "quarn/softrender/fast_paths.h"

namespace {

struct Blit : PixelInputs {
    uint8_t* dst;
    ptrdiff_t dstPitch;
    const uint8_t* src;
    ptrdiff_t srcPitch;
    const uint8_t* mask;  // one byte a pixel, or null
    ptrdiff_t maskPitch;
    int width;
    int height;
    const uint8_t* runs;
};

// The general path.
template <class Fmt, class Src, class Op, bool Mask, bool Trans>
void GeneralLoop(const Blit& b)
{
    for (int y = 0; y < b.height; ++y) {
        const uint8_t* sp = b.src + b.srcPitch * y;
        uint8_t* dp = b.dst + b.dstPitch * y;
        const uint8_t* mp = Mask ? b.mask + b.maskPitch * y : nullptr;
        for (int x = 0; x < b.width; ++x, sp += Src::kBpp, dp += Fmt::kBpp) {
            DrawSourcePixel<Fmt, Src, Op, Mask, Trans, Op::kCopyIgnoresAlpha>(dp, sp, Mask ? mp[x] : 0, b);
        }
    }
}

// The run-length path: the whole source view, keyed, replaying its run table.
template <class Fmt, class Src, class Op, bool Mask>
void RunLoop(const Blit& b)
{
    const uint8_t* run = b.runs;
    for (int y = 0; y < b.height; ++y) {
        const uint8_t* sl = b.src + b.srcPitch * y;
        uint8_t* dl = b.dst + b.dstPitch * y;
        const uint8_t* ml = Mask ? b.mask + b.maskPitch * y : nullptr;
        int x = 0;
        for (;;) {
            const uint8_t code = *run++;
            if (code == kRunEndOfLine) break;
            int n = (code & 0x3F) + 1;
            if (n > b.width - x) n = b.width - x;
            const int op = code >> 6;
            if (op != 0) {
                for (int i = x; i < x + n; ++i) {
                    const uint8_t* sp = sl + ptrdiff_t{i} * Src::kBpp;
                    uint8_t* dp = dl + ptrdiff_t{i} * Fmt::kBpp;
                    uint32_t m = 0;
                    if constexpr (Mask) m = BlendMaskAlphaTable[ml[i]];
                    const uint32_t s = Src::Load(sp, b);
                    if (Src::kAlpha && op == 2) DrawWeighted<Fmt, Op, Mask>(dp, s, m, Src::AlphaOf(sp), b.ctx);
                    else DrawOpaque<Fmt, Op, Mask>(dp, s, m, b.ctx);
                }
            }
            x += n;
        }
    }
}

// ---- Dispatch ----

// The general path and the run-length path (which only a keyed draw takes).
template <class Fmt>
void RunKind(const Blit& b, const MemImgBase* s, BlendMode mode, bool mask, bool bright, bool trans, bool rle)
{
    WithPixelForm<Fmt>(s, mode, mask, bright, trans, [&]<class Src, class Op, bool Mask, bool Trans>() {
        if constexpr (Trans) {
            if (rle) {
                RunLoop<Fmt, Src, Op, Mask>(b);
                return;
            }
        }
        GeneralLoop<Fmt, Src, Op, Mask, Trans>(b);
    });
}

}  // namespace

int GetSoftRenderMmx() { return QUARN_HAVE_MMX && IsMmxUsable() ? 1 : 0; }

void RenderMemImg(const SoftBlendState& settings, MEMIMG* dst, const MEMIMG* src, int x, int y, int transparent,
                  const MEMIMG* mask)
{
    if (!TestMemImgValid(dst) || !TestMemImgValid(src)) return;
    const MemImgBase* ss = src->store;
    MemImgBase* ds = dst->store;
    if (ss->kind != ds->kind || ds->paletted || ds->alpha) return;

    PixelRect r{x, y, static_cast<int32_t>(int64_t{x} + src->width), static_cast<int32_t>(int64_t{y} + src->height)};
    // The clip never reaches outside the destination view.
    PixelRect bound = settings.clip;
    ClipRectToBound(&bound, PixelRect{0, 0, dst->width, dst->height});
    ClipRectToBound(&r, bound);
    if (r.right <= r.left || r.bottom <= r.top) return;
    const int col = r.left - x;
    const int line = r.top - y;

    if (ss->kind != kMemImgRgb565 && ss->kind != kMemImgXrgb32) return;

    const BlendSetup blend = ReadBlendSetup(settings);
    if (blend.mode == kBlendModeNothing) return;

    // The mask is read one byte a pixel at the source pixel's own position; a mask smaller
    // than the source would be read outside its lines.
    if (mask != nullptr) {
        if (!TestMemImgValid(mask)) return;
        if (mask->width < src->width || mask->height < src->height) return;
    }

    const int srcBpp = MemImgBytesPerPixel(ss->kind, ss->paletted, ss->alpha);
    const int dstBpp = MemImgBytesPerPixel(ds->kind, 0, 0);
    Blit b{};
    b.width = r.right - r.left;
    b.height = r.bottom - r.top;
    b.srcPitch = ss->pitch;
    b.dstPitch = ds->pitch;
    b.src = src->pixels + b.srcPitch * line + ptrdiff_t{srcBpp} * col;
    b.dst = dst->pixels + b.dstPitch * r.top + ptrdiff_t{dstBpp} * r.left;
    if (mask != nullptr) {
        b.maskPitch = mask->store->pitch;
        b.mask = mask->pixels + b.maskPitch * line + col;
    }
    SetSourceInputs(&b, ss, blend.ctx);

    const bool trans = transparent != 0;
    // The runs describe exactly the view they were built from, and only while the pixels
    // have not changed since.
    const bool whole = b.width == src->width && b.height == src->height;
    const bool rle = trans && ss->runsValid && whole && ss->runTable != nullptr && ss->runsViewPixels == src->pixels &&
                     ss->runsViewWidth == src->width && ss->runsViewHeight == src->height;
    b.runs = ss->runTable;
    b.ctx.signedStep16 = rle || ss->alpha;

    // The fast paths' table, else the general loops.
    const FastPathQuery query{kRowUnscaled, ss->kind,        SourceOfStore(ss), blend.mode, b.ctx.p,
                              trans,        mask != nullptr, blend.bright,      rle,        ss == ds};
    if (const FastPath* fast = FindFastPath(query)) {
        for (int row = 0; row < b.height; ++row)
            fast->row(b.dst + b.dstPitch * row, b.src + b.srcPitch * row, b.width, b);
    } else if (ss->kind == kMemImgXrgb32) {
        RunKind<Fmt32>(b, ss, blend.mode, mask != nullptr, blend.bright, trans, rle);
    } else {
        RunKind<Fmt16>(b, ss, blend.mode, mask != nullptr, blend.bright, trans, rle);
    }

    MarkMemImgPixelsChanged(ds);
}

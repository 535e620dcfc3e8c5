// The scaled and mirrored blit: one source pixel picked per destination pixel by a 16.16
// walk, mirrored on the source side.
#include <cstdint>
#include <cstring>

#include "quarn/softrender/blend_ops.h"
#include "quarn/softrender/blit_pixel.h"
#include "quarn/softrender/fast_paths.h"
#include "quarn/softrender/softrender.h"

namespace {

struct ScaledBlit : PixelInputs {
    uint8_t* dst;
    ptrdiff_t dstPitch;
    const uint8_t* src;
    ptrdiff_t srcStep;
    ptrdiff_t srcRowStep;
    const uint8_t* mask;
    ptrdiff_t maskStep;
    ptrdiff_t maskRowStep;
    int width;
    int height;
    int32_t sx, sy;    // destination pixels per source pixel, 16.16
    int32_t ax0, ay0;  // accumulator starts after the clipped-away part
};

// The 16.16 walk: pixel(dp, sp, mp) for each destination pixel, row by row, with the source
// pixel (and, with Mask, the mask byte) it shows.
template <int DstBpp, bool Mask, class Pixel>
inline void WalkScaled(const ScaledBlit& b, Pixel&& pixel)
{
    const uint8_t* srow = b.src;
    const uint8_t* mrow = b.mask;
    uint8_t* drow = b.dst;
    int32_t ay = b.ay0;
    for (int rows = b.height;;) {
        const uint8_t* sp = srow;
        const uint8_t* mp = mrow;
        uint8_t* dp = drow;
        int32_t ax = b.ax0;
        for (int cols = b.width;;) {
            pixel(dp, sp, mp);
            dp += DstBpp;
            if (--cols == 0) break;
            ax -= 65536;
            while (ax <= 0) {
                ax += b.sx;
                sp += b.srcStep;
                if constexpr (Mask) mp += b.maskStep;
            }
        }
        if (--rows == 0) break;
        drow += b.dstPitch;
        ay -= 65536;
        while (ay <= 0) {
            ay += b.sy;
            srow += b.srcRowStep;
            if constexpr (Mask) mrow += b.maskRowStep;
        }
    }
}

template <class Fmt, class Src, class Op, bool Mask, bool Trans>
void ScaledLoop(const ScaledBlit& b)
{
    WalkScaled<Fmt::kBpp, Mask>(b, [&](uint8_t* dp, const uint8_t* sp, const uint8_t* mp) {
        DrawSourcePixel<Fmt, Src, Op, Mask, Trans, false>(dp, sp, Mask ? *mp : 0, b);
    });
}

// A fast path's draw: the column walk is the same on every line, so it is taken once per
// block of columns; each line's source pixels are gathered by it and handed to the row form
// (a form that copies is gathered straight into the destination, and a line that shows the
// same source line as the one above is that line copied).
constexpr int kColumnBlock = 1024;

// n pixels of Bpp bytes from the line at the offsets; 4-byte pixels two to a 64-bit store.
template <int Bpp>
inline void GatherPixels(uint8_t* out, const uint8_t* srow, const int32_t* offsets, int n)
{
    int i = 0;
    if constexpr (Bpp == 4) {
        for (; i + 4 <= n; i += 4) {
            uint32_t p0, p1, p2, p3;
            std::memcpy(&p0, srow + offsets[i], 4);
            std::memcpy(&p1, srow + offsets[i + 1], 4);
            std::memcpy(&p2, srow + offsets[i + 2], 4);
            std::memcpy(&p3, srow + offsets[i + 3], 4);
            const uint64_t a = p0 | (uint64_t{p1} << 32);
            const uint64_t c = p2 | (uint64_t{p3} << 32);
            std::memcpy(out + 4 * i, &a, 8);
            std::memcpy(out + 4 * i + 8, &c, 8);
        }
    }
    for (; i < n; ++i) std::memcpy(out + Bpp * i, srow + offsets[i], Bpp);
}

template <int Bpp>
void GatherLoop(const ScaledBlit& b, int dstBpp, const FastPath& fast)
{
    int32_t offsets[kColumnBlock];
    uint32_t gathered[kColumnBlock];
    const bool straight = fast.copies && Bpp == dstBpp;
    int32_t ax = b.ax0;
    int32_t step = 0;  // source steps from the line's first pixel
    for (int first = 0; first < b.width; first += kColumnBlock) {
        const int n = b.width - first < kColumnBlock ? b.width - first : kColumnBlock;
        for (int i = 0; i < n; ++i) {
            if (first + i > 0) {
                ax -= 65536;
                while (ax <= 0) {
                    ax += b.sx;
                    ++step;
                }
            }
            offsets[i] = static_cast<int32_t>(step * b.srcStep);
        }
        const uint8_t* srow = b.src;
        uint8_t* drow = b.dst + ptrdiff_t{first} * dstBpp;
        int32_t ay = b.ay0;
        bool sameLine = false;
        for (int rows = b.height;;) {
            if (straight && sameLine) {
                std::memcpy(drow, drow - b.dstPitch, static_cast<size_t>(n) * dstBpp);
            } else {
                uint8_t* out = straight ? drow : reinterpret_cast<uint8_t*>(gathered);
                // The gathered pixels of a line shown again are still those of the line above.
                if (!sameLine) GatherPixels<Bpp>(out, srow, offsets, n);
                if (!straight) fast.row(drow, out, n, b);
            }
            if (--rows == 0) break;
            drow += b.dstPitch;
            ay -= 65536;
            sameLine = true;
            while (ay <= 0) {
                ay += b.sy;
                srow += b.srcRowStep;
                sameLine = false;
            }
        }
    }
}

// A store drawn onto itself: the row form one pixel at a time in the walk's order, so each
// source pixel is read just before its destination pixel is written, as on the general path.
template <int DstBpp>
void WalkPixels(const ScaledBlit& b, const FastPath& fast)
{
    WalkScaled<DstBpp, false>(b, [&](uint8_t* dp, const uint8_t* sp, const uint8_t*) { fast.row(dp, sp, 1, b); });
}

template <class Fmt>
void RunScaledKind(const ScaledBlit& b, const MemImgBase* s, BlendMode mode, bool mask, bool bright, bool trans)
{
    WithPixelForm<Fmt>(s, mode, mask, bright, trans,
                       [&]<class Src, class Op, bool Mask, bool Trans>() { ScaledLoop<Fmt, Src, Op, Mask, Trans>(b); });
}

}  // namespace

void RenderMemImgScaled(const SoftBlendState& settings, MEMIMG* dst, const MEMIMG* src, const int32_t corners[4],
                        int transparent, const MEMIMG* mask)
{
    if (corners == nullptr || !TestMemImgValid(dst) || !TestMemImgValid(src)) return;

    const bool mirrorX = corners[0] > corners[2];
    const bool mirrorY = corners[1] > corners[3];
    const int32_t left = mirrorX ? corners[2] : corners[0];
    const int32_t right = mirrorX ? corners[0] : corners[2];
    const int32_t top = mirrorY ? corners[3] : corners[1];
    const int32_t bottom = mirrorY ? corners[1] : corners[3];
    const int64_t w = int64_t{right} - left;
    const int64_t h = int64_t{bottom} - top;
    if (w == 0 || h == 0) return;
    if (w == src->width && h == src->height && !mirrorX && !mirrorY) {
        RenderMemImg(settings, dst, src, left, top, transparent, mask);
        return;
    }

    // Sizes the 16.16 walk cannot represent, and layouts it would read or write wrongly.
    const int srcW = src->width, srcH = src->height;
    if (srcW < 1 || srcH < 1 || srcW >= 65536 || srcH >= 65536) return;
    if (w >= 32768 || h >= 32768) return;
    const MemImgBase* ss = src->store;
    const MemImgBase* ds = dst->store;
    if (ss->kind != ds->kind || ds->paletted || ds->alpha) return;
    if (ss->kind != kMemImgRgb565 && ss->kind != kMemImgXrgb32) return;
    if (mask != nullptr && (!TestMemImgValid(mask) || mask->width < srcW || mask->height < srcH)) return;

    const auto sx = static_cast<uint32_t>((static_cast<uint32_t>(w) << 16) / static_cast<uint32_t>(srcW));
    const auto sy = static_cast<uint32_t>((static_cast<uint32_t>(h) << 16) / static_cast<uint32_t>(srcH));

    PixelRect r{left, top, right, bottom};
    PixelRect bound = settings.clip;
    ClipRectToBound(&bound, PixelRect{0, 0, dst->width, dst->height});
    ClipRectToBound(&r, bound);
    const int width = r.right - r.left;
    const int height = r.bottom - r.top;
    if (width <= 0 || height <= 0) return;
    const int32_t cx = r.left - left;
    const int32_t cy = r.top - top;
    const int32_t kx = static_cast<int32_t>((cx * 65536) / static_cast<int32_t>(sx));
    const int32_t rx = static_cast<int32_t>((cx * 65536) % static_cast<int32_t>(sx));
    const int32_t ky = static_cast<int32_t>((cy * 65536) / static_cast<int32_t>(sy));
    const int32_t ry = static_cast<int32_t>((cy * 65536) % static_cast<int32_t>(sy));

    const BlendSetup blend = ReadBlendSetup(settings);
    if (blend.mode == kBlendModeNothing) return;

    const int srcBpp = MemImgBytesPerPixel(ss->kind, ss->paletted, ss->alpha);
    const int dstBpp = ss->kind == kMemImgXrgb32 ? 4 : 2;
    const int col = mirrorX ? srcW - kx - 1 : kx;
    const int line = mirrorY ? srcH - ky - 1 : ky;

    ScaledBlit b{};
    b.width = width;
    b.height = height;
    b.sx = static_cast<int32_t>(sx);
    b.sy = static_cast<int32_t>(sy);
    b.ax0 = static_cast<int32_t>(sx) - rx;
    b.ay0 = static_cast<int32_t>(sy) - ry;
    b.src = src->pixels + ptrdiff_t{ss->pitch} * line + ptrdiff_t{srcBpp} * col;
    b.srcStep = mirrorX ? -srcBpp : srcBpp;
    b.srcRowStep = mirrorY ? -ptrdiff_t{ss->pitch} : ptrdiff_t{ss->pitch};
    if (mask != nullptr) {
        const ptrdiff_t mp = mask->store->pitch;
        b.mask = mask->pixels + mp * line + col;
        b.maskStep = mirrorX ? -1 : 1;
        b.maskRowStep = mirrorY ? -mp : mp;
    }
    b.dstPitch = ds->pitch;
    b.dst = dst->pixels + b.dstPitch * r.top + ptrdiff_t{dstBpp} * r.left;
    SetSourceInputs(&b, ss, blend.ctx);
    b.ctx.signedStep16 = true;

    const bool trans = transparent != 0;
    // The fast paths' table, else the general loops.
    const FastPathQuery query{kRowScaled, ss->kind,        SourceOfStore(ss), blend.mode, b.ctx.p,
                              trans,      mask != nullptr, blend.bright,      false,      ss == ds};
    if (const FastPath* fast = FindFastPath(query)) {
        if (ss == ds && dstBpp == 4) WalkPixels<4>(b, *fast);
        else if (ss == ds) WalkPixels<2>(b, *fast);
        else if (srcBpp == 4) GatherLoop<4>(b, dstBpp, *fast);
        else if (srcBpp == 2) GatherLoop<2>(b, dstBpp, *fast);
        else GatherLoop<1>(b, dstBpp, *fast);
    } else if (ss->kind == kMemImgXrgb32) {
        RunScaledKind<Fmt32>(b, ss, blend.mode, mask != nullptr, blend.bright, trans);
    } else {
        RunScaledKind<Fmt16>(b, ss, blend.mode, mask != nullptr, blend.bright, trans);
    }
    MarkMemImgPixelsChanged(dst->store);
}

// The converting pixel copy: any pixel format to any other, with mirroring, colour keys,
// alpha sources, loss reduction and palette remapping.
#include <algorithm>
#include <cstring>

#include "quarn/image/image.h"
#include "quarn/image/pixel.h"
#include "quarn/image/fast_pairs.h"

namespace {

using pixel::EntryValue;
using pixel::Load;
using pixel::Ones;
using pixel::Store;
using pixel::Widen;

// Where each source pixel of row `y`, column `i` of the rectangle goes.
struct RectWalk {
    uint8_t* dst;
    int dstPitch;
    int dstBpp;
    const uint8_t* src;
    int srcPitch;
    int srcBpp;
    int dstX, dstY;
    PixelRect rect;
    bool mirror;

    int Width() const { return rect.right - rect.left; }
    int Height() const { return rect.bottom - rect.top; }
    const uint8_t* SrcRow(int y) const
    {
        return src + std::ptrdiff_t(rect.top + y) * srcPitch + std::ptrdiff_t(rect.left) * srcBpp;
    }
    // The destination pixel that source column i of row y lands on.
    uint8_t* DstPixel(int y, int i) const
    {
        const int x = mirror ? dstX + Width() - 1 - i : dstX + i;
        return dst + std::ptrdiff_t(dstY + y) * dstPitch + std::ptrdiff_t(x) * dstBpp;
    }
};

uint32_t DepthCut(uint32_t key, int depth) { return depth >= 32 ? key : key & Ones(depth); }

// Plain copy between two 8-bit formats; the result is the highest index copied.
int CopyIndices(const RectWalk& w)
{
    uint8_t highest = 0;
    for (int y = 0; y < w.Height(); ++y) {
        const uint8_t* s = w.SrcRow(y);
        if (!w.mirror) {
            uint8_t* d = w.DstPixel(y, 0);
            for (int i = 0; i < w.Width(); ++i) {
                d[i] = s[i];
                highest = std::max(highest, s[i]);
            }
        } else {
            for (int i = 0; i < w.Width(); ++i) {
                *w.DstPixel(y, i) = s[i];
                highest = std::max(highest, s[i]);
            }
        }
    }
    return highest;
}

// Each index mapped to the nearest entry of the destination palette.
void RemapIndices(const RectWalk& w, const ColorFormat& df, const ColorFormat& sf)
{
    uint8_t map[256];
    for (int i = 0; i < 256; ++i) {
        const PaletteEntry& e = sf.palette[i];
        map[i] = uint8_t(EncodePixelColor(&df, e.red, e.green, e.blue, 0));
    }
    for (int y = 0; y < w.Height(); ++y) {
        const uint8_t* s = w.SrcRow(y);
        for (int i = 0; i < w.Width(); ++i) *w.DstPixel(y, i) = map[s[i]];
    }
}

// A 16-, 24- or 32-bit source into a paletted destination, by nearest palette entry.
void EncodeToIndices(const RectWalk& w, const ColorFormat& df, const ColorFormat& sf, uint32_t key, bool keySkip,
                     bool black)
{
    key = DepthCut(key, sf.bitDepth);
    for (int y = 0; y < w.Height(); ++y) {
        const uint8_t* s = w.SrcRow(y);
        for (int i = 0; i < w.Width(); ++i) {
            const uint32_t v = Load(s + i * w.srcBpp, w.srcBpp);
            if (keySkip && v == key) continue;
            // Channels at their own widths are spread to 0..255 before the palette search. A
            // mask with gaps carries bits above its width: such a value counts as full.
            auto ch = [&](uint32_t mask, int shift, int width) {
                return int(std::min<uint32_t>(Widen((v & mask) >> shift, width, 8), 255));
            };
            int r = ch(sf.redMask, sf.redShift, sf.redWidth);
            int g = ch(sf.greenMask, sf.greenShift, sf.greenWidth);
            int b = ch(sf.blueMask, sf.blueShift, sf.blueWidth);
            const int a = ch(sf.alphaMask, sf.alphaShift, sf.alphaWidth);
            if (black) r = g = b = 0;
            *w.DstPixel(y, i) = uint8_t(EncodePixelColor(&df, r, g, b, a));
        }
    }
}

// Same layout on both sides: pixels copied unchanged.
void StraightCopy(const RectWalk& w, int depth, uint32_t key, bool keySkip)
{
    const int bpp = w.dstBpp;
    key = DepthCut(key, depth);
    for (int y = 0; y < w.Height(); ++y) {
        const uint8_t* s = w.SrcRow(y);
        if (!w.mirror && !keySkip) {
            std::memcpy(w.DstPixel(y, 0), s, size_t(w.Width()) * bpp);
            continue;
        }
        for (int i = 0; i < w.Width(); ++i) {
            const uint32_t v = Load(s + i * bpp, bpp);
            if (keySkip && v == key) continue;
            Store(w.DstPixel(y, i), bpp, v);
        }
    }
}

// Same colour layout, alpha made from a colour key: alpha cleared where the colour bits equal
// the key's, set everywhere else.
void KeyToAlphaInPlace(const RectWalk& w, const ColorFormat& df, uint32_t key)
{
    const uint32_t k = EncodePixelColor(&df, int(key >> 16 & 0xFF), int(key >> 8 & 0xFF), int(key & 0xFF), 255);
    const uint32_t rgb = df.redMask | df.greenMask | df.blueMask;
    const int bpp = w.dstBpp;
    for (int y = 0; y < w.Height(); ++y) {
        const uint8_t* s = w.SrcRow(y);
        for (int i = 0; i < w.Width(); ++i) {
            const uint32_t v = Load(s + i * bpp, bpp);
            Store(w.DstPixel(y, i), bpp, (v & rgb) == (k & rgb) ? v & ~df.alphaMask : v | df.alphaMask);
        }
    }
}

// Same colour layout into a destination without alpha: the colour bits are kept and the rest
// is the destination's unused bits, exactly what the general path composes, without its
// per-channel work.
void DropAlpha(const RectWalk& w, const ColorFormat& df)
{
    const uint32_t rgb = df.redMask | df.greenMask | df.blueMask;
    const uint32_t fill = (df.bitDepth == 16 || df.bitDepth == 32) ? df.unusedMask : 0;
    const int bpp = w.dstBpp;
    for (int y = 0; y < w.Height(); ++y) {
        const uint8_t* s = w.SrcRow(y);
        if (bpp == 4 && !w.mirror) {
            KeepOrRow32(s, w.DstPixel(y, 0), w.Width(), rgb, fill);
            continue;
        }
        for (int i = 0; i < w.Width(); ++i) Store(w.DstPixel(y, i), bpp, (Load(s + i * bpp, bpp) & rgb) | fill);
    }
}

// ---- The general path ----

struct ChannelPlan {
    int srcWidth;  // width of the value handed in
    int dstShift;
    int dstWidth;
    uint32_t dstMax;
};

const uint8_t kDither[16] = {0, 8, 2, 10, 12, 4, 14, 6, 3, 11, 1, 9, 15, 7, 13, 5};

struct Options {
    uint32_t key;
    bool keyToAlpha, keySkip, black, alphaFromRed, fromAlphaBuffer;
    int reduction;
};

void GeneralPath(const RectWalk& w, const ColorFormat& df, const ColorFormat& sf, const uint8_t* alphaPixels,
                 int alphaPitch, const ColorFormat& af, const Options& o)
{
    const bool dstAlpha = df.alphaWidth != 0;
    const uint32_t fullAlpha = dstAlpha ? df.alphaMask >> df.alphaShift : 0;
    const int abpp = af.bytesPerPixel;
    const bool widen = sf.redWidth != df.redWidth || sf.greenWidth != df.greenWidth ||
                       (o.fromAlphaBuffer && af.redWidth != df.alphaWidth);
    const bool reduce = widen && (o.reduction == 1 || o.reduction == 2);

    // The key as the source's channels, for key-to-alpha.
    uint32_t keyR = 0, keyG = 0, keyB = 0;
    if (o.keyToAlpha) {
        const uint32_t ks = EncodePixelColor(&sf, int(o.key >> 16 & 0xFF), int(o.key >> 8 & 0xFF), int(o.key & 0xFF),
                                             255);
        const uint32_t kv = sf.bytesPerPixel == 1 ? EntryValue(sf.palette[ks & 0xFF]) : ks;
        keyR = (kv & sf.redMask) >> sf.redShift;
        keyG = (kv & sf.greenMask) >> sf.greenShift;
        keyB = (kv & sf.blueMask) >> sf.blueShift;
    }
    // A paletted source is compared by index; others by value cut to the source depth.
    const uint32_t skipKey = o.keyToAlpha ? o.key : DepthCut(o.key, sf.bitDepth);

    // Width the alpha value arrives in before conversion.
    int alphaWidth;
    if (o.alphaFromRed) alphaWidth = sf.redWidth;
    else if (dstAlpha && o.keyToAlpha) alphaWidth = df.alphaWidth;
    else if (o.fromAlphaBuffer) alphaWidth = af.redWidth;
    else if (!sf.alphaWidth) alphaWidth = df.alphaWidth;
    else if (!dstAlpha) alphaWidth = 0;
    else alphaWidth = sf.alphaWidth;

    const ChannelPlan plan[4] = {
        {sf.redWidth, df.redShift, df.redWidth, Ones(df.redWidth)},
        {sf.greenWidth, df.greenShift, df.greenWidth, Ones(df.greenWidth)},
        {sf.blueWidth, df.blueShift, df.blueWidth, Ones(df.blueWidth)},
        {alphaWidth, df.alphaShift, df.alphaWidth, Ones(df.alphaWidth)},
    };
    // Bits lost per channel and the ordered-dither thresholds in those units.
    int lost[4];
    uint32_t threshold[4][16];
    for (int ch = 0; ch < 4; ++ch) {
        lost[ch] = std::max(0, plan[ch].srcWidth - plan[ch].dstWidth);
        for (int m = 0; m < 16; ++m) threshold[ch][m] = uint32_t((uint64_t(kDither[m]) << lost[ch]) >> 4);
    }
    uint32_t remainder[4] = {0, 0, 0, 0};
    const uint32_t storeOr = (df.bitDepth == 16 || df.bitDepth == 32) ? df.unusedMask : 0;

    for (int y = 0; y < w.Height(); ++y) {
        const uint8_t* s = w.SrcRow(y);
        const uint8_t* arow = o.fromAlphaBuffer ? alphaPixels + std::ptrdiff_t(w.rect.top + y) * alphaPitch +
                                                      std::ptrdiff_t(w.rect.left) * abpp
                                                : nullptr;
        for (int i = 0; i < w.Width(); ++i) {
            uint32_t v;
            if (w.srcBpp == 1) {
                if (o.keySkip && s[i] == (skipKey & 0xFF)) continue;
                v = EntryValue(sf.palette[s[i]]);
            } else {
                v = Load(s + i * w.srcBpp, w.srcBpp);
                if (o.keySkip && v == skipKey) continue;
            }
            uint32_t c[4];
            c[0] = (v & sf.redMask) >> sf.redShift;
            c[1] = (v & sf.greenMask) >> sf.greenShift;
            c[2] = (v & sf.blueMask) >> sf.blueShift;

            if (o.alphaFromRed) {
                c[3] = c[0];
            } else if (dstAlpha && o.keyToAlpha) {
                c[3] = (c[0] == keyR && c[1] == keyG && c[2] == keyB) ? 0 : fullAlpha;
            } else if (o.fromAlphaBuffer) {
                const uint32_t av = abpp == 1 ? EntryValue(af.palette[arow[i]]) : Load(arow + i * abpp, abpp);
                c[3] = (av & af.redMask) >> af.redShift;
            } else if (!sf.alphaWidth) {
                c[3] = fullAlpha;
            } else if (!dstAlpha) {
                c[3] = 0;
            } else {
                c[3] = (v & sf.alphaMask) >> sf.alphaShift;
            }

            uint32_t out[4];
            for (int ch = 0; ch < 4; ++ch) {
                const ChannelPlan& pl = plan[ch];
                // Colour channels change width only when the layouts differ; alpha always
                // arrives at the destination's alpha width.
                out[ch] = (widen || ch == 3) ? Widen(c[ch], pl.srcWidth, pl.dstWidth) : c[ch];
            }
            if (o.black) out[0] = out[1] = out[2] = 0;
            if (reduce) {
                const int m = (i & 3) + (y & 3) * 4;
                for (int ch = 0; ch < 4; ++ch) {
                    if (!lost[ch] || (o.black && ch < 3)) continue;
                    const uint32_t lostMask = Ones(lost[ch]);
                    const uint32_t bits = c[ch] & lostMask;
                    bool up;
                    if (o.reduction == 1) {
                        up = threshold[ch][m] < bits;
                    } else {
                        remainder[ch] += bits;
                        up = remainder[ch] > lostMask;
                        remainder[ch] &= lostMask;
                    }
                    if (up) ++out[ch];
                }
            }
            uint32_t p = 0;
            for (int ch = 0; ch < 4; ++ch) {
                const ChannelPlan& pl = plan[ch];
                if (pl.dstWidth == 0) continue;
                p |= std::min(out[ch], pl.dstMax) << pl.dstShift;
            }
            Store(w.DstPixel(y, i), w.dstBpp, p | storeOr);
        }
    }
}

}  // namespace

int ConvertPixelRect(uint8_t* dstPixels, int dstPitch, const ColorFormat* dstFormat, const uint8_t* srcPixels,
                     int srcPitch, const ColorFormat* srcFormat, const uint8_t* alphaPixels, int alphaPitch,
                     const ColorFormat* alphaFormat, int dstX, int dstY, const PixelRect* srcRect, int mirror,
                     int keyToAlpha, uint32_t keyColor, int reduction, int black, int alphaFromRed, int keySkip,
                     int paletteRemap)
{
    if (!dstPixels || !dstFormat || !srcPixels || !srcFormat || !srcRect) return -1;
    // Block-compressed memory holds no pixels to convert; it is expanded before it gets here.
    if (dstFormat->compression || srcFormat->compression) return -1;
    const ColorFormat& df = *dstFormat;
    const ColorFormat& sf = *srcFormat;
    static const ColorFormat kNoFormat = {};
    const ColorFormat& af = alphaFormat ? *alphaFormat : kNoFormat;

    const bool dstAlpha = df.alphaWidth != 0;
    const bool alphaInUse = dstAlpha && (alphaPixels || sf.alphaWidth);
    const bool fromAlphaBuffer = dstAlpha && alphaPixels && !sf.alphaWidth;
    if (alphaInUse || !dstAlpha || alphaFromRed) keyToAlpha = 0;
    if (mirror) keySkip = 0;

    const int width = srcRect->right - srcRect->left;
    const int height = srcRect->bottom - srcRect->top;
    if (width <= 0 || height <= 0) return -1;

    RectWalk w{dstPixels, dstPitch, df.bytesPerPixel, srcPixels,  srcPitch, sf.bytesPerPixel,
               dstX,      dstY,     *srcRect,         mirror != 0};

    if (paletteRemap && sf.bytesPerPixel == 1 && df.bytesPerPixel == 1 &&
        std::memcmp(sf.palette, df.palette, sizeof sf.palette) != 0) {
        RemapIndices(w, df, sf);
        return 0;
    }

    const int sb = sf.bytesPerPixel, db = df.bytesPerPixel;
    const bool srcDepthKnown = sf.bitDepth == 8 || sf.bitDepth == 16 || sf.bitDepth == 24 || sf.bitDepth == 32;
    if (df.bitDepth == 8 && !srcDepthKnown) return 0;
    if (sb < 1 || sb > 4 || db < 1 || db > 4) return -1;

    if (df.bitDepth == 8 && db == 1) {
        if (sf.bitDepth != 8) {
            EncodeToIndices(w, df, sf, keyColor, keySkip != 0, black != 0);
            return 0;
        }
        if (!black && !keySkip) return CopyIndices(w);
    }

    const bool sameDepth = sf.bitDepth == df.bitDepth;
    const bool sameColour = sf.redMask == df.redMask && sf.greenMask == df.greenMask && sf.blueMask == df.blueMask;
    if (!keyToAlpha && !fromAlphaBuffer && !black && !alphaFromRed && sameDepth && sameColour &&
        sf.alphaMask == df.alphaMask) {
        StraightCopy(w, df.bitDepth, keyColor, keySkip != 0);
        return 0;
    }
    if (keySkip != 1 && dstAlpha && keyToAlpha == 1 && !black && !alphaFromRed && sameDepth && sameColour) {
        KeyToAlphaInPlace(w, df, keyColor);
        return 0;
    }
    if (keySkip != 1 && !mirror && reduction == 0 && !black && !alphaFromRed && !alphaPixels) {
        FastPairJob job{dstPixels, dstPitch, dstX, dstY, srcPixels, srcPitch, *srcRect};
        if (ConvertFastPair(job, df, sf, keyToAlpha != 0, alphaInUse, keyColor)) return 0;
    }
    if (!dstAlpha && sameDepth && sameColour && !keySkip && !black && !alphaFromRed && sf.bytesPerPixel > 1) {
        DropAlpha(w, df);
        return 0;
    }
    const Options o{keyColor, keyToAlpha != 0, keySkip != 0, black != 0, alphaFromRed != 0, fromAlphaBuffer, reduction};
    GeneralPath(w, df, sf, alphaPixels, alphaPitch, af, o);
    return 0;
}

// Blend arithmetic shared by the software kernels: pixel access, the channel forms of every
// blend mode, and the packed saturating forms. Internal to the software renderer.
#pragma once

#include <cstdint>
#include <cstring>

#include "quarn/core/core.h"
#include "quarn/softrender/softrender.h"

inline int ClampInt(int v, int lo, int hi) { return v < lo ? lo : v > hi ? hi : v; }

// Clamps r into bound by the library's rectangle clamp; the result may be empty.
// A bound whose corners are reversed holds nothing, so everything is clipped away; the
// result always lies inside the bound, and right - left and bottom - top cannot overflow
// once either rectangle is a real image's.
inline void ClipRectToBound(PixelRect* r, const PixelRect& b)
{
    const PixelRect bound{b.left, b.top, b.right < b.left ? b.left : b.right, b.bottom < b.top ? b.top : b.bottom};
    // Clamped in a copy: handing r itself to the clamp would let the caller's record escape,
    // and the kernels' byte stores would then make the compiler reload it in the inner loops.
    PixelRect rect = *r;
    ClampRectInsideRect(&rect, &bound);
    *r = rect;
}

inline uint32_t LoadPixel32(const uint8_t* p)
{
    uint32_t v;
    std::memcpy(&v, p, 4);
    return v;
}
inline void StorePixel32(uint8_t* p, uint32_t v) { std::memcpy(p, &v, 4); }
inline uint32_t LoadPixel16(const uint8_t* p)
{
    uint16_t v;
    std::memcpy(&v, p, 2);
    return v;
}
inline void StorePixel16(uint8_t* p, uint32_t v)
{
    const auto w = static_cast<uint16_t>(v);
    std::memcpy(p, &w, 2);
}

// ---- Weighted interpolation and table forms ----

// floor((d * 256 + (x - d) * w) / 256), w 0..256
inline uint32_t Lerp8(uint32_t d, uint32_t x, uint32_t w) { return (d * (256 - w) + x * w) >> 8; }
// floor((d * 65536 + (x - d) * w) / 65536), w 0..65536
inline uint32_t Lerp16(uint32_t d, uint32_t x, uint32_t w) { return (d * (65536 - w) + x * w) >> 16; }
// floor((d * 2^24 + (x - d) * w) / 2^24), w 0..2^24
inline uint32_t Lerp24(uint32_t d, uint32_t x, uint32_t w)
{
    return static_cast<uint32_t>((uint64_t{d} * ((1u << 24) - w) + uint64_t{x} * w) >> 24);
}
// x * k / 255
inline uint32_t ScaleBy(uint32_t x, uint32_t k) { return BlendScaleTable[k][x]; }
// d + (x - d) * k / 255, the product truncated towards zero
inline uint32_t SignedStep(uint32_t d, uint32_t x, uint32_t k)
{
    return static_cast<uint32_t>(static_cast<int32_t>(d) +
                                 BlendSignedScaleTable[k][255 + static_cast<int>(x) - static_cast<int>(d)]);
}
// (x * i + d * (63 - i)) / 63 with i = p / 4
inline uint32_t Lerp6(uint32_t d, uint32_t x, uint32_t p) { return BlendLerp6Table[p >> 2][x][d]; }

// Lerp8 on the blue, green and red bytes of two 32-bit pixels at once, the fourth byte of d
// kept. Exact: no lane can carry into the next (255 * 256 fits in 16 bits).
inline uint32_t Lerp8Packed32(uint32_t d, uint32_t s, uint32_t w)
{
    const uint32_t iw = 256 - w;
    const uint32_t rb = (((d & 0x00FF00FF) * iw + (s & 0x00FF00FF) * w) >> 8) & 0x00FF00FF;
    const uint32_t g = (((d & 0x0000FF00) * iw + (s & 0x0000FF00) * w) >> 8) & 0x0000FF00;
    return (d & 0xFF000000) | rb | g;
}

// ---- Packed saturating forms ----

inline uint32_t PackedAdd32(uint32_t d, uint32_t a)
{
    const uint32_t sum = (d & 0x00FEFEFF) + (a & 0x00FEFEFF);
    const uint32_t c = sum & 0x01010100;
    return (c - (c >> 8)) | ((d | a) & 0x00010100) | sum;
}
inline uint32_t PackedAdd32NoLowBits(uint32_t d, uint32_t a)
{
    const uint32_t sum = (d & 0x00FEFEFF) + (a & 0x00FEFEFF);
    const uint32_t c = sum & 0x01010100;
    return (c - (c >> 8)) | sum;
}
inline uint32_t PackedSub32(uint32_t d, uint32_t a)
{
    const uint32_t t = (d | 0x01010100) - (a & 0x00FEFEFF);
    const uint32_t g = t & 0x01010100;
    return t & (g - (g >> 8));
}
inline uint32_t PackedAdd16(uint32_t d, uint32_t a)
{
    const uint32_t sum = (d & 0xF7DF) + (a & 0xF7DF);
    const uint32_t c = sum & 0x08210820;
    return ((c - (c >> 5)) | ((d | a) & 0x0820) | sum) & 0xFFFF;
}
inline uint32_t PackedAdd16NoLowBits(uint32_t d, uint32_t a)
{
    const uint32_t sum = (d & 0xF7DF) + (a & 0xF7DF);
    const uint32_t c = sum & 0x08210820;
    return ((c - (c >> 5)) | sum) & 0xFFFF;
}
inline uint32_t PackedSub16(uint32_t d, uint32_t a)
{
    const uint32_t t = (d | 0x08210820) - (a & 0xF7DF);
    const uint32_t g = t & 0x08210820;
    return (t & (g - (g >> 5))) & 0xFFFF;
}
// Two RGB565 pixels in one word (first pixel in the low half).
inline uint32_t PackedAdd16Pair(uint32_t d, uint32_t s)
{
    const uint64_t wide = uint64_t{s & 0xF7DEF7DF} + (d & 0xF7DEF7DF);
    const auto sum = static_cast<uint32_t>(wide);
    const auto k = static_cast<uint32_t>(wide >> 32);
    const uint32_t c = sum & 0x08210820;
    return (c - ((c >> 5) | (k << 27))) | sum;
}
inline uint32_t PackedSub16Pair(uint32_t d, uint32_t s)
{
    const uint32_t lhs = d | 0x08210820;
    const uint32_t rhs = s & 0xF7DEF7DF;
    const uint32_t t = lhs - rhs;
    const uint32_t h = lhs >= rhs ? 0xF8000000u : 0u;
    const uint32_t g = t & 0x08210820;
    return t & ((g - (g >> 5)) | h);
}
inline uint32_t HalveAverage32(uint32_t d, uint32_t s) { return ((s >> 1) & 0x007F7F7F) + ((d >> 1) & 0x007F7F7F); }
inline uint32_t HalveAverage16(uint32_t d, uint32_t s) { return ((s >> 1) & 0x7BEF) + ((d >> 1) & 0x7BEF); }
// Per byte of all four: min(d + s, 255) or max(d - s, 0).
inline uint32_t SaturateAddBytes(uint32_t d, uint32_t s)
{
    uint32_t r = 0;
    for (int i = 0; i < 32; i += 8) {
        const uint32_t v = ((d >> i) & 0xFF) + ((s >> i) & 0xFF);
        r |= (v > 255 ? 255 : v) << i;
    }
    return r;
}
inline uint32_t SaturateSubBytes(uint32_t d, uint32_t s)
{
    uint32_t r = 0;
    for (int i = 0; i < 32; i += 8) {
        const uint32_t dv = (d >> i) & 0xFF;
        const uint32_t sv = (s >> i) & 0xFF;
        r |= (dv > sv ? dv - sv : 0) << i;
    }
    return r;
}

// ---- Pixel layouts ----

// 32-bit: blue, green, red bytes and a fourth byte that channel formulas keep.
struct Fmt32 {
    static constexpr int kBpp = 4;
    static constexpr int kShift[3] = {0, 8, 16};
    static constexpr int kWidth[3] = {8, 8, 8};
    static constexpr uint32_t kMax[3] = {255, 255, 255};
    static constexpr uint32_t kKeep = 0xFF000000;
    static uint32_t Load(const uint8_t* p) { return LoadPixel32(p); }
    static void Store(uint8_t* p, uint32_t v) { StorePixel32(p, v); }
};

// RGB565: blue bits 0-4, green 5-10, red 11-15.
struct Fmt16 {
    static constexpr int kBpp = 2;
    static constexpr int kShift[3] = {0, 5, 11};
    static constexpr int kWidth[3] = {5, 6, 5};
    static constexpr uint32_t kMax[3] = {31, 63, 31};
    static constexpr uint32_t kKeep = 0;
    static uint32_t Load(const uint8_t* p) { return LoadPixel16(p); }
    static void Store(uint8_t* p, uint32_t v) { StorePixel16(p, v); }
};

// Per-call blend inputs.
struct BlendCtx {
    uint32_t p;          // blend parameter
    uint32_t bright[3];  // bright colour per channel: blue, green, red
    bool signedStep16;   // 16-bit mode 1 unweighted uses the signed step, not Lerp6
};

// BlendSetup's mode when the draw draws nothing.
constexpr BlendMode kBlendModeNothing = static_cast<BlendMode>(-1);

// What a kernel draws under, read from the draw settings once per call.
struct BlendSetup {
    BlendMode mode;  // the mode drawn in, or kBlendModeNothing
    bool bright;     // a bright colour is set
    BlendCtx ctx;    // signedStep16 left to the kernel
};

// Only the modes with a form below draw (none, alpha, add, subtract, multiply, inverse blend,
// multiply blend); alpha, add and subtract draw nothing at p 0, and alpha at p 255 is drawn as
// none.
inline BlendSetup ReadBlendSetup(const SoftBlendState& settings)
{
    BlendSetup b{};
    const int p = ClampInt(settings.blendParam, 0, 255);
    BlendMode mode = settings.blendMode;
    switch (mode) {
    case kBlendModeNone:
    case kBlendModeMultiply:
    case kBlendModeInverseBlend:
    case kBlendModeMultiplyBlend: break;
    case kBlendModeAlpha:
        if (p == 255) mode = kBlendModeNone;
        [[fallthrough]];
    case kBlendModeAdd:
    case kBlendModeSubtract:
        if (p == 0) mode = kBlendModeNothing;
        break;
    default: mode = kBlendModeNothing; break;
    }
    b.mode = mode;
    const uint32_t bright = settings.brightColor & 0xFFFFFF;
    b.bright = bright != kNoBrightColor;
    b.ctx.p = static_cast<uint32_t>(p);
    b.ctx.bright[0] = bright & 0xFF;
    b.ctx.bright[1] = (bright >> 8) & 0xFF;
    b.ctx.bright[2] = (bright >> 16) & 0xFF;
    return b;
}

// Applies f(channel, d, s) to blue, green and red; the bits outside the channels come from d.
template <class Fmt, class F>
inline uint32_t MapChannels(uint32_t d, uint32_t s, F f)
{
    uint32_t out = d & Fmt::kKeep;
    for (int ch = 0; ch < 3; ++ch) {
        const uint32_t dc = (d >> Fmt::kShift[ch]) & Fmt::kMax[ch];
        const uint32_t sc = (s >> Fmt::kShift[ch]) & Fmt::kMax[ch];
        out |= f(ch, dc, sc) << Fmt::kShift[ch];
    }
    return out;
}

template <bool Bright>
inline uint32_t Brighten(uint32_t s, int ch, const BlendCtx& c)
{
    if constexpr (Bright) return ScaleBy(s, c.bright[ch]);
    return s;
}

// The source pixel with every channel brightened.
template <class Fmt, bool Bright>
inline uint32_t BrightenPixel(uint32_t s, const BlendCtx& c)
{
    if constexpr (!Bright) return s;
    return MapChannels<Fmt>(0, s, [&](int ch, uint32_t, uint32_t sc) { return Brighten<Bright>(sc, ch, c); });
}

// Each mode gives four forms: unweighted, weighted by the mask value m, by the source alpha a,
// and by both. kCopyIgnoresAlpha: with alpha and no transparency the source is copied as is.

template <class Fmt, bool Bright>
struct OpCopy {
    static constexpr bool kCopyIgnoresAlpha = !Bright;
    static uint32_t Plain(uint32_t d, uint32_t s, const BlendCtx& c)
    {
        if constexpr (!Bright) return s;
        return MapChannels<Fmt>(d, s, [&](int ch, uint32_t, uint32_t sc) { return Brighten<Bright>(sc, ch, c); });
    }
    static uint32_t Masked(uint32_t d, uint32_t s, uint32_t m, const BlendCtx& c)
    {
        if constexpr (Fmt::kBpp == 4) return Lerp8Packed32(d, BrightenPixel<Fmt, Bright>(s, c), m);
        return MapChannels<Fmt>(d, s, [&](int ch, uint32_t dc, uint32_t sc) {
            return Lerp8(dc, Brighten<Bright>(sc, ch, c), m);
        });
    }
    static uint32_t Alpha(uint32_t d, uint32_t s, uint32_t a, const BlendCtx& c) { return Masked(d, s, a, c); }
    static uint32_t MaskAlpha(uint32_t d, uint32_t s, uint32_t m, uint32_t a, const BlendCtx& c)
    {
        return MapChannels<Fmt>(d, s, [&](int ch, uint32_t dc, uint32_t sc) {
            return Lerp16(dc, Brighten<Bright>(sc, ch, c), m * a);
        });
    }
};

template <class Fmt, bool Bright>
struct OpBlend {
    static constexpr bool kCopyIgnoresAlpha = false;
    static uint32_t Plain(uint32_t d, uint32_t s, const BlendCtx& c)
    {
        if constexpr (Fmt::kBpp == 4) return Lerp8Packed32(d, BrightenPixel<Fmt, Bright>(s, c), c.p);
        return MapChannels<Fmt>(d, s, [&](int ch, uint32_t dc, uint32_t sc) {
            if (Bright || c.signedStep16) return SignedStep(dc, Brighten<Bright>(sc, ch, c), c.p);
            return Lerp6(dc, sc, c.p);
        });
    }
    static uint32_t Masked(uint32_t d, uint32_t s, uint32_t m, const BlendCtx& c)
    {
        return MapChannels<Fmt>(d, s, [&](int ch, uint32_t dc, uint32_t sc) {
            return Lerp16(dc, Brighten<Bright>(sc, ch, c), m * c.p);
        });
    }
    static uint32_t Alpha(uint32_t d, uint32_t s, uint32_t a, const BlendCtx& c) { return Masked(d, s, a, c); }
    static uint32_t MaskAlpha(uint32_t d, uint32_t s, uint32_t m, uint32_t a, const BlendCtx& c)
    {
        return MapChannels<Fmt>(d, s, [&](int ch, uint32_t dc, uint32_t sc) {
            return Lerp24(dc, Brighten<Bright>(sc, ch, c), m * a * c.p);
        });
    }
};

// Modes 2 and 3: the weighted source A, then the packed saturating add or subtract.
template <class Fmt, bool Bright, bool Add>
struct OpAddSub {
    static constexpr bool kCopyIgnoresAlpha = false;
    static uint32_t Apply(uint32_t d, uint32_t a)
    {
        if constexpr (Fmt::kBpp == 4) return Add ? PackedAdd32(d, a) : PackedSub32(d, a);
        return Add ? PackedAdd16(d, a) : PackedSub16(d, a);
    }
    static uint32_t Plain(uint32_t d, uint32_t s, const BlendCtx& c)
    {
        return Apply(d, MapChannels<Fmt>(0, s, [&](int ch, uint32_t, uint32_t sc) {
                         return ScaleBy(Brighten<Bright>(sc, ch, c), c.p);
                     }));
    }
    // One weight w (mask or alpha), 8 bits.
    static uint32_t Masked(uint32_t d, uint32_t s, uint32_t w, const BlendCtx& c)
    {
        return Apply(d, MapChannels<Fmt>(0, s, [&](int ch, uint32_t, uint32_t sc) {
                         const uint32_t v = Brighten<Bright>(sc, ch, c);
                         if constexpr (Fmt::kBpp == 4) return (v * w * c.p) >> 16;
                         return ScaleBy((v * w) >> 8, c.p);
                     }));
    }
    static uint32_t Alpha(uint32_t d, uint32_t s, uint32_t a, const BlendCtx& c) { return Masked(d, s, a, c); }
    static uint32_t MaskAlpha(uint32_t d, uint32_t s, uint32_t m, uint32_t a, const BlendCtx& c)
    {
        return Apply(d, MapChannels<Fmt>(0, s, [&](int ch, uint32_t, uint32_t sc) {
                         const uint32_t v = Brighten<Bright>(sc, ch, c);
                         if constexpr (Fmt::kBpp == 4) return static_cast<uint32_t>((uint64_t{v} * m * a * c.p) >> 24);
                         return ScaleBy((v * m * a) >> 16, c.p);
                     }));
    }
};
template <class Fmt, bool Bright>
using OpAdd = OpAddSub<Fmt, Bright, true>;
template <class Fmt, bool Bright>
using OpSub = OpAddSub<Fmt, Bright, false>;

// Mode 4: the parameter is not used; every weight scales the product itself.
template <class Fmt, bool Bright>
struct OpMultiply {
    static constexpr bool kCopyIgnoresAlpha = false;
    static uint32_t Plain(uint32_t d, uint32_t s, const BlendCtx& c)
    {
        return MapChannels<Fmt>(d, s, [&](int ch, uint32_t dc, uint32_t sc) {
            return (Brighten<Bright>(sc, ch, c) * dc) >> Fmt::kWidth[ch];
        });
    }
    static uint32_t Masked(uint32_t d, uint32_t s, uint32_t w, const BlendCtx& c)
    {
        return MapChannels<Fmt>(d, s, [&](int ch, uint32_t dc, uint32_t sc) {
            return (Brighten<Bright>(sc, ch, c) * dc * w) >> (Fmt::kWidth[ch] + 8);
        });
    }
    static uint32_t Alpha(uint32_t d, uint32_t s, uint32_t a, const BlendCtx& c) { return Masked(d, s, a, c); }
    static uint32_t MaskAlpha(uint32_t d, uint32_t s, uint32_t m, uint32_t a, const BlendCtx& c)
    {
        return MapChannels<Fmt>(d, s, [&](int ch, uint32_t dc, uint32_t sc) {
            return static_cast<uint32_t>((uint64_t{Brighten<Bright>(sc, ch, c)} * dc * m * a) >>
                                         (Fmt::kWidth[ch] + 16));
        });
    }
};

// Modes 10 and 11 blend towards a target x(d, s) by the parameter.
template <class Fmt, bool Bright, class Target>
struct OpBlendTowards {
    static constexpr bool kCopyIgnoresAlpha = false;
    static uint32_t Plain(uint32_t d, uint32_t s, const BlendCtx& c)
    {
        return MapChannels<Fmt>(d, s, [&](int ch, uint32_t dc, uint32_t sc) {
            const uint32_t x = Target::template Of<Fmt, Bright>(ch, dc, sc, c);
            if constexpr (Fmt::kBpp == 4) return Lerp8(dc, x, c.p);
            return SignedStep(dc, x, c.p);
        });
    }
    static uint32_t Masked(uint32_t d, uint32_t s, uint32_t w, const BlendCtx& c)
    {
        return MapChannels<Fmt>(d, s, [&](int ch, uint32_t dc, uint32_t sc) {
            return Lerp16(dc, Target::template Of<Fmt, Bright>(ch, dc, sc, c), w * c.p);
        });
    }
    static uint32_t Alpha(uint32_t d, uint32_t s, uint32_t a, const BlendCtx& c) { return Masked(d, s, a, c); }
    static uint32_t MaskAlpha(uint32_t d, uint32_t s, uint32_t m, uint32_t a, const BlendCtx& c)
    {
        return MapChannels<Fmt>(d, s, [&](int ch, uint32_t dc, uint32_t sc) {
            return Lerp24(dc, Target::template Of<Fmt, Bright>(ch, dc, sc, c), m * a * c.p);
        });
    }
};
struct InvertedSource {
    template <class Fmt, bool Bright>
    static uint32_t Of(int ch, uint32_t, uint32_t sc, const BlendCtx& c)
    {
        return Brighten<Bright>(Fmt::kMax[ch] - sc, ch, c);
    }
};
struct ProductTarget {
    template <class Fmt, bool Bright>
    static uint32_t Of(int ch, uint32_t dc, uint32_t sc, const BlendCtx& c)
    {
        return (Brighten<Bright>(sc, ch, c) * dc) >> Fmt::kWidth[ch];
    }
};
template <class Fmt, bool Bright>
using OpInverseBlend = OpBlendTowards<Fmt, Bright, InvertedSource>;
template <class Fmt, bool Bright>
using OpMultiplyBlend = OpBlendTowards<Fmt, Bright, ProductTarget>;

// ---- Which form each mode draws with ----

// The forms of the drawn modes. A kernel whose rounding differs in a mode derives from it and
// names its own form for that mode.
struct ModeForms {
    template <class Fmt, bool Bright>
    using Copy = OpCopy<Fmt, Bright>;
    template <class Fmt, bool Bright>
    using Blend = OpBlend<Fmt, Bright>;
    template <class Fmt, bool Bright>
    using Add = OpAdd<Fmt, Bright>;
    template <class Fmt, bool Bright>
    using Sub = OpSub<Fmt, Bright>;
    template <class Fmt, bool Bright>
    using Multiply = OpMultiply<Fmt, Bright>;
    template <class Fmt, bool Bright>
    using InverseBlend = OpInverseBlend<Fmt, Bright>;
    template <class Fmt, bool Bright>
    using MultiplyBlend = OpMultiplyBlend<Fmt, Bright>;
};

// Calls run.template operator()<Form>() with the form template of the mode (as ReadBlendSetup
// leaves it); any other mode calls nothing.
template <class Forms = ModeForms, class Run>
inline void WithModeForm(BlendMode mode, Run&& run)
{
    switch (mode) {
    case kBlendModeNone: run.template operator()<Forms::template Copy>(); break;
    case kBlendModeAlpha: run.template operator()<Forms::template Blend>(); break;
    case kBlendModeAdd: run.template operator()<Forms::template Add>(); break;
    case kBlendModeSubtract: run.template operator()<Forms::template Sub>(); break;
    case kBlendModeMultiply: run.template operator()<Forms::template Multiply>(); break;
    case kBlendModeInverseBlend: run.template operator()<Forms::template InverseBlend>(); break;
    case kBlendModeMultiplyBlend: run.template operator()<Forms::template MultiplyBlend>(); break;
    default: break;
    }
}

// Forms used only without mask, bright or alpha: mode 1 at p 128, modes 2 and 3 at p 255.
template <class Fmt>
struct OpHalve {
    static constexpr bool kCopyIgnoresAlpha = false;
    static uint32_t Plain(uint32_t d, uint32_t s, const BlendCtx&)
    {
        if constexpr (Fmt::kBpp == 4) return HalveAverage32(d, s);
        return HalveAverage16(d, s);
    }
};
struct OpAddFull32 {
    static constexpr bool kCopyIgnoresAlpha = false;
    static uint32_t Plain(uint32_t d, uint32_t s, const BlendCtx&) { return PackedAdd32NoLowBits(d, s); }
};
struct OpSubFull32 {
    static constexpr bool kCopyIgnoresAlpha = false;
    static uint32_t Plain(uint32_t d, uint32_t s, const BlendCtx&) { return PackedSub32(d, s); }
};

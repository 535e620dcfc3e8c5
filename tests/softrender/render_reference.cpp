#include "render_reference.h"

#include <algorithm>
#include <cstring>

namespace ref {

namespace {

int64_t FloorDiv(int64_t a, int64_t b)
{
    int64_t q = a / b;
    if ((a % b != 0) && ((a < 0) != (b < 0))) --q;
    return q;
}

int Scale(int x, int k) { return x * k / 255; }
int Signed255(int d, int x, int k) { return d + (x - d) * k / 255; }  // C++ truncates to zero
int L8(int d, int x, int64_t w) { return static_cast<int>(FloorDiv(int64_t{d} * 256 + (x - d) * w, 256)); }
int L16(int d, int x, int64_t w) { return static_cast<int>(FloorDiv(int64_t{d} * 65536 + (x - d) * w, 65536)); }
int L24(int d, int x, int64_t w) { return static_cast<int>(FloorDiv(int64_t{d} * (1 << 24) + (x - d) * w, 1 << 24)); }
int Lerp6(int d, int x, int p)
{
    const int i = p / 4;
    return (x * i + d * (63 - i)) / 63;
}

struct Layout {
    bool wide;  // 32-bit
    int shift[3];
    int width[3];
    int Max(int ch) const { return (1 << width[ch]) - 1; }
    int Get(uint32_t v, int ch) const { return static_cast<int>((v >> shift[ch]) & Max(ch)); }
};
const Layout kWide{true, {0, 8, 16}, {8, 8, 8}};
const Layout kNarrow{false, {0, 5, 11}, {5, 6, 5}};

enum class Form { Plain, Masked, Alpha, MaskAlpha };

uint32_t ReadRaw(const uint8_t* p, int bytes)
{
    uint32_t v = 0;
    std::memcpy(&v, p, static_cast<size_t>(bytes));
    return v;
}
void WriteRaw(uint8_t* p, int bytes, uint32_t v) { std::memcpy(p, &v, static_cast<size_t>(bytes)); }

struct Call {
    const Layout* L;
    int mode;
    int p;
    bool bright;
    int br[3];
    bool rle;
    bool srcAlpha;
    bool scaled;    // the scaled blit's pixel stage
    bool triangle;  // the triangle kernel's pixel stage
};

// Channel result of the per-channel modes (everything but 2 and 3).
int ChannelResult(const Call& c, Form f, int ch, int d, int s, int m, int a)
{
    const Layout& L = *c.L;
    const int sb = c.bright ? Scale(s, c.br[ch]) : s;
    const int W = L.width[ch];
    switch (c.mode) {
    case 0:
        if (f == Form::Plain) return sb;
        if (f == Form::Masked) return L8(d, sb, m);
        if (f == Form::Alpha) return L8(d, sb, a);
        return L16(d, sb, int64_t{m} * a);
    case 1:
        if (f == Form::Plain) {
            if (L.wide) return L8(d, sb, c.p);
            if (c.bright || c.rle || c.srcAlpha || c.scaled || c.triangle) return Signed255(d, sb, c.p);
            return Lerp6(d, s, c.p);
        }
        if (f == Form::Masked) return L16(d, sb, int64_t{m} * c.p);
        if (f == Form::Alpha) return L16(d, sb, int64_t{a} * c.p);
        return L24(d, sb, int64_t{m} * a * c.p);
    case 4:
        if (f == Form::Plain) return (sb * d) >> W;
        if (f == Form::Masked) return (sb * d * m) >> (W + 8);
        if (f == Form::Alpha) return (sb * d * a) >> (W + 8);
        return static_cast<int>((int64_t{sb} * d * m * a) >> (W + 16));
    case 10:
    case 11: {
        int target;
        if (c.mode == 10) {
            target = L.Max(ch) - s;
            if (c.bright) target = Scale(target, c.br[ch]);
        } else {
            target = (sb * d) >> W;
            if (c.triangle && !L.wide && ch == 1 && f == Form::Alpha && !c.bright) {
                const int64_t t5 = (sb * d) >> 1;
                const int64_t w = int64_t{a} * c.p;
                return static_cast<int>(FloorDiv(int64_t{d} * (1 << 21) + (t5 - 32 * d) * w, 1 << 21));
            }
        }
        if (f == Form::Plain) return L.wide ? L8(d, target, c.p) : Signed255(d, target, c.p);
        if (f == Form::Masked) return L16(d, target, int64_t{m} * c.p);
        if (f == Form::Alpha) return L16(d, target, int64_t{a} * c.p);
        return L24(d, target, int64_t{m} * a * c.p);
    }
    }
    return d;
}

// Weighted source channel of modes 2 and 3.
int AddendChannel(const Call& c, Form f, int ch, int s, int m, int a)
{
    const int sb = c.bright ? Scale(s, c.br[ch]) : s;
    const bool wide = c.L->wide;
    switch (f) {
    case Form::Plain: return Scale(sb, c.p);
    case Form::Masked: return wide ? (sb * m * c.p) >> 16 : Scale((sb * m) >> 8, c.p);
    case Form::Alpha:
        if (c.triangle && !wide) {
            const int sa = (s * a) >> 8;
            return Scale(c.bright ? Scale(sa, c.br[ch]) : sa, c.p);
        }
        return wide ? (sb * a * c.p) >> 16 : Scale((sb * a) >> 8, c.p);
    case Form::MaskAlpha:
        return wide ? static_cast<int>((int64_t{sb} * m * a * c.p) >> 24) : Scale((sb * m * a) >> 16, c.p);
    }
    return 0;
}

uint32_t Add32(uint32_t d, uint32_t A, bool lowBits)
{
    const uint32_t sum = (d & 0x00FEFEFF) + (A & 0x00FEFEFF);
    const uint32_t cc = sum & 0x01010100;
    uint32_t r = (cc - (cc >> 8)) | sum;
    if (lowBits) r |= (d | A) & 0x00010100;
    return r;
}
uint32_t Sub32(uint32_t d, uint32_t A)
{
    const uint32_t t = (d | 0x01010100) - (A & 0x00FEFEFF);
    const uint32_t g = t & 0x01010100;
    return t & (g - (g >> 8));
}
uint32_t Add16(uint32_t d, uint32_t A, bool lowBits)
{
    const uint32_t sum = (d & 0xF7DF) + (A & 0xF7DF);
    const uint32_t cc = sum & 0x08210820;
    uint32_t r = (cc - (cc >> 5)) | sum;
    if (lowBits) r |= (d | A) & 0x0820;
    return r & 0xFFFF;
}
uint32_t Sub16(uint32_t d, uint32_t A)
{
    const uint32_t t = (d | 0x08210820) - (A & 0xF7DF);
    const uint32_t g = t & 0x08210820;
    return t & (g - (g >> 5)) & 0xFFFF;
}

// One pixel by one of the four forms.
uint32_t Pixel(const Call& c, Form f, uint32_t d, uint32_t s, int m, int a)
{
    const Layout& L = *c.L;
    if (c.mode == 0 && f == Form::Plain && !c.bright) return s;
    if (c.mode == 2 || c.mode == 3) {
        uint32_t A = 0;
        for (int ch = 0; ch < 3; ++ch)
            A |= static_cast<uint32_t>(AddendChannel(c, f, ch, L.Get(s, ch), m, a)) << L.shift[ch];
        if (L.wide) return c.mode == 2 ? Add32(d, A, true) : Sub32(d, A);
        return c.mode == 2 ? Add16(d, A, true) : Sub16(d, A);
    }
    uint32_t out = L.wide ? (d & 0xFF000000) : 0;
    for (int ch = 0; ch < 3; ++ch) {
        const int v = ChannelResult(c, f, ch, L.Get(d, ch), L.Get(s, ch), m, a);
        out |= static_cast<uint32_t>(v) << L.shift[ch];
    }
    return out;
}

uint32_t SaturateBytes(uint32_t d, uint32_t s, bool add)
{
    uint32_t r = 0;
    for (int i = 0; i < 4; ++i) {
        const int dv = static_cast<int>((d >> (8 * i)) & 0xFF);
        const int sv = static_cast<int>((s >> (8 * i)) & 0xFF);
        const int v = add ? std::min(dv + sv, 255) : std::max(dv - sv, 0);
        r |= static_cast<uint32_t>(v) << (8 * i);
    }
    return r;
}

// The mode drawn, or -1 for the modes and parameters that draw nothing.
int DrawnMode(const Settings& st)
{
    int mode = st.mode;
    if (!(mode == 0 || mode == 1 || mode == 2 || mode == 3 || mode == 4 || mode == 10 || mode == 11)) return -1;
    if (mode == 1 && st.p == 255) mode = 0;
    if ((mode == 1 || mode == 2 || mode == 3) && st.p == 0) return -1;
    return mode;
}

// The per-call values of a blit from a store of this layout.
Call MakeCall(const MemImgBase* src, const Settings& st, int mode)
{
    Call c{};
    c.L = src->kind == 1 ? &kWide : &kNarrow;
    c.mode = mode;
    c.p = st.p;
    c.bright = (st.bright & 0xFFFFFF) != 0xFFFFFF;
    c.br[0] = static_cast<int>(st.bright & 0xFF);
    c.br[1] = static_cast<int>((st.bright >> 8) & 0xFF);
    c.br[2] = static_cast<int>((st.bright >> 16) & 0xFF);
    c.srcAlpha = src->alpha != 0;
    return c;
}

}  // namespace

int MaskWeight(int value, int borderPos, int borderRange)
{
    const int step = 65536 / (borderRange + 1);
    const int offset = ((step + 256) * borderPos) / 256;
    const int v = (value * 256) / (borderRange + 1) + 256 - offset;
    return std::clamp(v, 0, 255);
}

uint32_t BlendPixel(const PixelCase& pc, uint32_t d, uint32_t s)
{
    Call c{};
    c.L = pc.wide ? &kWide : &kNarrow;
    c.mode = pc.mode;
    c.p = pc.p;
    c.bright = (pc.bright & 0xFFFFFF) != 0xFFFFFF;
    c.br[0] = static_cast<int>(pc.bright & 0xFF);
    c.br[1] = static_cast<int>((pc.bright >> 8) & 0xFF);
    c.br[2] = static_cast<int>((pc.bright >> 16) & 0xFF);
    c.triangle = pc.triangle;
    const Form f = pc.hasMask ? (pc.hasAlpha ? Form::MaskAlpha : Form::Masked)
                              : (pc.hasAlpha ? Form::Alpha : Form::Plain);
    return Pixel(c, f, d, s, pc.m, pc.a);
}

void Render(MEMIMG* dst, const MEMIMG* src, int x, int y, int transparent, const MEMIMG* mask, const Settings& st)
{
    const MemImgBase* ss = src->store;
    MemImgBase* ds = dst->store;
    if (ss->kind != ds->kind || ds->paletted || ds->alpha) return;
    if (ss->kind > 1) return;

    // Clip to the clip rectangle within the destination view; in 64 bits, so that a position
    // anywhere in the int range cannot wrap. What is left lies inside the view.
    const int64_t right64 = std::min<int64_t>({int64_t{x} + src->width, st.clip.right, dst->width});
    const int64_t bottom64 = std::min<int64_t>({int64_t{y} + src->height, st.clip.bottom, dst->height});
    const int left = std::max({x, st.clip.left, 0});
    const int top = std::max({y, st.clip.top, 0});
    if (right64 <= left || bottom64 <= top) return;
    const int right = static_cast<int>(right64), bottom = static_cast<int>(bottom64);

    const int mode = DrawnMode(st);
    if (mode < 0) return;
    if (mask && (mask->width < src->width || mask->height < src->height)) return;

    Call c = MakeCall(ss, st, mode);
    const bool whole = left == x && top == y && right64 == int64_t{x} + src->width &&
                       bottom64 == int64_t{y} + src->height;
    c.rle = transparent && ss->runsValid && whole && ss->runsViewPixels == src->pixels &&
            ss->runsViewWidth == src->width && ss->runsViewHeight == src->height;

    const int dstBytes = ss->kind == 1 ? 4 : 2;
    const int srcBytes = ss->paletted ? 1 : (ss->kind == 1 || ss->alpha) ? 4 : 2;
    const bool special = !c.rle && !mask && !c.bright && !c.srcAlpha;

    auto srcAt = [&](int u, int v) { return src->pixels + ss->pitch * v + srcBytes * u; };
    auto dstAt = [&](int u, int v) { return dst->pixels + ds->pitch * v + dstBytes * u; };
    auto value = [&](const uint8_t* sp) -> uint32_t {
        if (ss->paletted) return ReadRaw(ss->palette + dstBytes * sp[0], dstBytes);
        return ReadRaw(sp, dstBytes);
    };
    auto isKey = [&](const uint8_t* sp) {
        if (ss->paletted) return sp[0] == (ss->transparentColor & 0xFF);
        return ReadRaw(sp, dstBytes) == (ss->kind == 1 ? ss->transparentColor : (ss->transparentColor & 0xFFFF));
    };

    for (int v = top; v < bottom; ++v) {
        const int sv = v - y;
        // 16-bit add and subtract at full strength pair up pixels from the clipped left.
        if (special && !c.L->wide && (mode == 2 || mode == 3) && st.p == 255) {
            for (int u = left; u < right; u += 2) {
                const uint8_t* s0 = srcAt(u - x, sv);
                const bool pair = u + 1 < right;
                const uint8_t* s1 = pair ? srcAt(u + 1 - x, sv) : nullptr;
                const bool k0 = transparent && isKey(s0);
                const bool k1 = pair && transparent && isKey(s1);
                if (pair && !k0 && !k1) {
                    const uint32_t d = ReadRaw(dstAt(u, v), 2) | (ReadRaw(dstAt(u + 1, v), 2) << 16);
                    const uint32_t s = value(s0) | (value(s1) << 16);
                    uint32_t r;
                    if (mode == 2) {
                        const uint64_t wide = uint64_t{s & 0xF7DEF7DF} + (d & 0xF7DEF7DF);
                        const auto sum = static_cast<uint32_t>(wide);
                        const auto k = static_cast<uint32_t>(wide >> 32);
                        const uint32_t cc = sum & 0x08210820;
                        r = (cc - ((cc >> 5) | (k << 27))) | sum;
                    } else {
                        const uint32_t lhs = d | 0x08210820, rhs = s & 0xF7DEF7DF;
                        const uint32_t t = lhs - rhs;
                        const uint32_t g = t & 0x08210820;
                        r = t & ((g - (g >> 5)) | (lhs >= rhs ? 0xF8000000u : 0u));
                    }
                    WriteRaw(dstAt(u, v), 2, r & 0xFFFF);
                    WriteRaw(dstAt(u + 1, v), 2, r >> 16);
                    continue;
                }
                for (int i = 0; i < (pair ? 2 : 1); ++i) {
                    const uint8_t* sp = i ? s1 : s0;
                    if (i ? k1 : k0) continue;
                    uint8_t* dp = dstAt(u + i, v);
                    const uint32_t d = ReadRaw(dp, 2);
                    WriteRaw(dp, 2, mode == 2 ? Add16(d, value(sp), false) : Sub16(d, value(sp)));
                }
            }
            continue;
        }
        for (int u = left; u < right; ++u) {
            const uint8_t* sp = srcAt(u - x, sv);
            uint8_t* dp = dstAt(u, v);
            const uint32_t s = value(sp);
            const uint32_t d = ReadRaw(dp, dstBytes);
            const int m = mask ? MaskWeight(mask->pixels[mask->store->pitch * sv + (u - x)], st.borderPos,
                                            st.borderRange)
                               : 0;
            Form f;
            int a = 255;
            if (c.srcAlpha) {
                a = c.L->wide ? sp[3] : sp[2];
                if (transparent && a == 0) continue;
                if (transparent && a == 255) {
                    f = mask ? Form::Masked : Form::Plain;
                } else if (!transparent && mode == 0 && !mask && !c.bright) {
                    WriteRaw(dp, dstBytes, s);
                    continue;
                } else {
                    f = mask ? Form::MaskAlpha : Form::Alpha;
                }
            } else {
                if (transparent && isKey(sp)) continue;
                f = mask ? Form::Masked : Form::Plain;
            }
            uint32_t r;
            if (special && mode == 1 && st.p == 128) {
                r = c.L->wide ? ((s >> 1) & 0x007F7F7F) + ((d >> 1) & 0x007F7F7F)
                              : ((s >> 1) & 0x7BEF) + ((d >> 1) & 0x7BEF);
            } else if (special && c.L->wide && (mode == 2 || mode == 3) && st.p == 255) {
                if (st.simd >= 1) r = SaturateBytes(d, s, mode == 2);
                else r = mode == 2 ? Add32(d, s, false) : Sub32(d, s);
            } else {
                r = Pixel(c, f, d, s, m, a);
            }
            WriteRaw(dp, dstBytes, r);
        }
    }
}

void RenderScaled(MEMIMG* dst, const MEMIMG* src, const int32_t corners[4], int transparent, const MEMIMG* mask,
                  const Settings& st)
{
    const bool mirrorX = corners[0] > corners[2];
    const bool mirrorY = corners[1] > corners[3];
    const int64_t left = std::min(corners[0], corners[2]), right = std::max(corners[0], corners[2]);
    const int64_t top = std::min(corners[1], corners[3]), bottom = std::max(corners[1], corners[3]);
    const int64_t W = right - left, H = bottom - top;
    if (W == 0 || H == 0) return;
    if (W == src->width && H == src->height && !mirrorX && !mirrorY) {
        Render(dst, src, static_cast<int>(left), static_cast<int>(top), transparent, mask, st);
        return;
    }
    const MemImgBase* ss = src->store;
    const MemImgBase* ds = dst->store;
    if (src->width < 1 || src->height < 1 || src->width >= 65536 || src->height >= 65536) return;
    if (W >= 32768 || H >= 32768) return;
    if (ss->kind != ds->kind || ds->paletted || ds->alpha || ss->kind > 1) return;
    if (mask && (mask->width < src->width || mask->height < src->height)) return;
    const int mode = DrawnMode(st);
    if (mode < 0) return;

    const int64_t sx = (W * 65536) / src->width;
    const int64_t sy = (H * 65536) / src->height;

    Call c = MakeCall(ss, st, mode);
    c.scaled = true;
    const int dstBytes = ss->kind == 1 ? 4 : 2;
    const int srcBytes = ss->paletted ? 1 : (ss->kind == 1 || ss->alpha) ? 4 : 2;
    const bool exactSub = c.L->wide && mode == 3 && st.p == 255 && !mask && !c.bright && !c.srcAlpha && st.simd >= 1;

    const int64_t x0 = std::max<int64_t>({left, st.clip.left, 0});
    const int64_t x1 = std::min<int64_t>({right, st.clip.right, dst->width});
    const int64_t y0 = std::max<int64_t>({top, st.clip.top, 0});
    const int64_t y1 = std::min<int64_t>({bottom, st.clip.bottom, dst->height});
    for (int64_t Y = y0; Y < y1; ++Y) {
        int64_t v = ((Y - top) * 65536) / sy;
        if (mirrorY) v = src->height - 1 - v;
        for (int64_t X = x0; X < x1; ++X) {
            int64_t u = ((X - left) * 65536) / sx;
            if (mirrorX) u = src->width - 1 - u;
            const uint8_t* sp = src->pixels + ss->pitch * v + srcBytes * u;
            uint8_t* dp = dst->pixels + ds->pitch * Y + dstBytes * X;
            const uint32_t s = ss->paletted ? ReadRaw(ss->palette + dstBytes * sp[0], dstBytes) : ReadRaw(sp, dstBytes);
            const uint32_t d = ReadRaw(dp, dstBytes);
            const int m = mask ? MaskWeight(mask->pixels[mask->store->pitch * v + u], st.borderPos, st.borderRange) : 0;
            Form f;
            int a = 255;
            if (c.srcAlpha) {
                a = c.L->wide ? sp[3] : sp[2];
                if (transparent && a == 0) continue;
                if (transparent && a == 255) f = mask ? Form::Masked : Form::Plain;
                else f = mask ? Form::MaskAlpha : Form::Alpha;
            } else {
                if (transparent) {
                    const bool key = ss->paletted
                                         ? sp[0] == (ss->transparentColor & 0xFF)
                                         : ReadRaw(sp, dstBytes) ==
                                               (ss->kind == 1 ? ss->transparentColor : (ss->transparentColor & 0xFFFF));
                    if (key) continue;
                }
                f = mask ? Form::Masked : Form::Plain;
            }
            WriteRaw(dp, dstBytes, exactSub ? SaturateBytes(d, s, false) : Pixel(c, f, d, s, m, a));
        }
    }
}

namespace {

// The packed add and subtract by their channel descriptions.
uint32_t AddByChannels(uint32_t d, uint32_t s, bool wide)
{
    if (wide) {
        auto ch = [](uint32_t v, int i) { return static_cast<int>((v >> (8 * i)) & 0xFF); };
        const int blueSum = ch(d, 0) + ch(s, 0);
        const int blue = std::min(255, blueSum);
        int carry = blueSum >= 256;
        uint32_t out = static_cast<uint32_t>(blue);
        for (int i = 1; i < 3; ++i) {
            const int half = (ch(d, i) >> 1) + (ch(s, i) >> 1);
            const int v = half >= 128 ? 255 : 2 * half + (((ch(d, i) | ch(s, i)) & 1) | carry);
            out |= static_cast<uint32_t>(v) << (8 * i);
            carry = half >= 128;
        }
        return out | (static_cast<uint32_t>(carry) << 24);
    }
    const int dB = d & 31, sB = s & 31, dG = (d >> 5) & 63, sG = (s >> 5) & 63;
    const int dR = (d >> 11) & 31, sR = (s >> 11) & 31;
    const int B = std::min(31, dB + sB);
    const int kB = dB + sB >= 32;
    const int gHalf = (dG >> 1) + (sG >> 1);
    const int G = (gHalf >= 32 ? 62 : 2 * gHalf) + (((dG | sG) & 1) | kB);
    const int kG = gHalf >= 32;
    const int rHalf = (dR >> 1) + (sR >> 1);
    const int R = rHalf >= 16 ? 31 : 2 * rHalf + (((dR | sR) & 1) | kG);
    return static_cast<uint32_t>(R << 11 | G << 5 | B);
}

uint32_t SubByChannels(uint32_t d, uint32_t s, bool wide)
{
    if (wide) {
        auto ch = [](uint32_t v, int i) { return static_cast<int>((v >> (8 * i)) & 0xFF); };
        uint32_t out = static_cast<uint32_t>(std::max(0, ch(d, 0) - ch(s, 0)));
        int guard = ch(d, 0) >= ch(s, 0);
        for (int i = 1; i < 3; ++i) {
            const int dh = ch(d, i) >> 1, sh = ch(s, i) >> 1;
            const int v = dh < sh ? 0 : 2 * (dh - sh) + guard;
            out |= static_cast<uint32_t>(v) << (8 * i);
            guard = dh >= sh;
        }
        return out;
    }
    const int dB = d & 31, sB = s & 31, dG = (d >> 5) & 63, sG = (s >> 5) & 63;
    const int dR = (d >> 11) & 31, sR = (s >> 11) & 31;
    const int B = std::max(0, dB - sB);
    const int G = (dG >> 1) < (sG >> 1) ? 0 : 2 * ((dG >> 1) - (sG >> 1));
    const int gG = (dG >> 1) >= (sG >> 1);
    const int R = (dR >> 1) < (sR >> 1) ? 0 : 2 * ((dR >> 1) - (sR >> 1)) + gG;
    return static_cast<uint32_t>(R << 11 | G << 5 | B);
}

}  // namespace

uint32_t PackedAddByChannels(uint32_t d, uint32_t s, bool wide) { return AddByChannels(d, s, wide); }
uint32_t PackedSubByChannels(uint32_t d, uint32_t s, bool wide) { return SubByChannels(d, s, wide); }

void TriangleQuad(MEMIMG* dst, const MEMIMG* src, const MEMIMG* mask, int qx, int qy, int trans, const Settings& st)
{
    int mode = st.mode;
    if (!(mode >= 0 && mode <= 4) && mode != 10 && mode != 11) return;
    if (mode == 1 && st.p == 255) mode = 0;
    if ((mode == 1 || mode == 2 || mode == 3) && st.p == 0) return;
    const MemImgBase* s = src->store;
    const bool wide = s->kind == 1;
    const int srcBytes = MemImgBytesPerPixel(s->kind, s->paletted, s->alpha);
    const int dstBytes = wide ? 4 : 2;
    for (int ty = 0; ty < src->height; ++ty)
        for (int tx = 0; tx < src->width; ++tx) {
            const int64_t x = int64_t{qx} + tx, y = int64_t{qy} + ty;
            if (x < std::max(0, st.clip.left) || x >= std::min(dst->width, st.clip.right) ||
                y < std::max(0, st.clip.top) || y >= std::min(dst->height, st.clip.bottom))
                continue;
            const uint32_t raw = ReadRaw(src->pixels + s->pitch * ty + srcBytes * tx, srcBytes);
            uint32_t value = raw;
            if (s->paletted) value = ReadRaw(s->palette + dstBytes * raw, dstBytes);
            else if (!wide) value = raw & 0xFFFF;
            PixelCase b;
            b.wide = wide;
            b.mode = mode;
            b.p = st.p;
            b.bright = st.bright;
            b.triangle = true;
            if (s->alpha) {
                const int a = static_cast<int>(wide ? raw >> 24 : (raw >> 16) & 0xFF);
                // With the flag, alpha 0 is skipped in every mode and 255 drops the weight.
                if (trans && a == 0) continue;
                b.hasAlpha = !(trans && a == 255);
                b.a = a;
            } else if (trans) {
                const uint32_t key = s->paletted ? s->transparentColor & 0xFF
                                     : wide      ? s->transparentColor
                                                 : s->transparentColor & 0xFFFF;
                if (raw == key) continue;
            }
            if (mask != nullptr) {
                b.hasMask = true;
                b.m = MaskWeight(mask->pixels[mask->store->pitch * ty + tx], st.borderPos, st.borderRange);
            }
            uint8_t* dp = dst->pixels + dst->store->pitch * y + dstBytes * x;
            WriteRaw(dp, dstBytes, BlendPixel(b, ReadRaw(dp, dstBytes), value));
        }
}

void Fill(MEMIMG* dst, const PixelRect* rect, uint32_t color, const Settings& st, bool isDrawTarget)
{
    const MemImgBase* ds = dst->store;
    if (ds->paletted || ds->alpha || ds->kind > 1) return;
    int64_t l = 0, t = 0, r = dst->width, b = dst->height;
    if (rect) {
        l = std::min(rect->left, rect->right);
        r = std::max(rect->left, rect->right);
        t = std::min(rect->top, rect->bottom);
        b = std::max(rect->top, rect->bottom);
    }
    l = std::max<int64_t>(l, 0);
    t = std::max<int64_t>(t, 0);
    r = std::min<int64_t>(r, dst->width);
    b = std::min<int64_t>(b, dst->height);
    if (isDrawTarget) {
        l = std::max<int64_t>(l, st.clip.left);
        t = std::max<int64_t>(t, st.clip.top);
        r = std::min<int64_t>(r, st.clip.right);
        b = std::min<int64_t>(b, st.clip.bottom);
    }
    if (r <= l || b <= t) return;
    const int mode = DrawnMode(st);
    if (mode < 0) return;
    const bool wide = ds->kind == 1;
    const Layout& L = wide ? kWide : kNarrow;
    const int bytes = wide ? 4 : 2;
    const int p = st.p;

    // Bright: channel times its bright byte over 256.
    int c[3];
    const int br[3] = {static_cast<int>(st.bright & 0xFF), static_cast<int>((st.bright >> 8) & 0xFF),
                       static_cast<int>((st.bright >> 16) & 0xFF)};
    const bool bright = (st.bright & 0xFFFFFF) != 0xFFFFFF;
    for (int ch = 0; ch < 3; ++ch) {
        c[ch] = L.Get(color, ch);
        if (bright) c[ch] = c[ch] * br[ch] >> 8;
    }
    uint32_t word = wide ? (color & 0xFF000000) : 0;
    for (int ch = 0; ch < 3; ++ch) word |= static_cast<uint32_t>(c[ch]) << L.shift[ch];

    for (int64_t y = t; y < b; ++y)
        for (int64_t x = l; x < r; ++x) {
            uint8_t* dp = dst->pixels + ds->pitch * y + bytes * x;
            const uint32_t D = ReadRaw(dp, bytes);
            uint32_t out;
            if (mode == 0) {
                out = word;
            } else if (mode == 2 || mode == 3) {
                uint32_t S = 0;
                for (int ch = 0; ch < 3; ++ch) S |= static_cast<uint32_t>(Scale(c[ch], p)) << L.shift[ch];
                out = mode == 2 ? AddByChannels(D, S, wide) : SubByChannels(D, S, wide);
                if (wide && mode == 3) out &= 0x00FFFFFF;
            } else {
                out = wide ? (D & 0xFF000000) : 0;
                for (int ch = 0; ch < 3; ++ch) {
                    const int d = L.Get(D, ch), W = L.width[ch];
                    int v = d;
                    switch (mode) {
                    case 1: v = wide ? L8(d, c[ch], p) : d + (c[ch] - d) * p / 255; break;
                    case 4: v = (d * c[ch]) >> W; break;
                    case 10: {
                        const int inv = L.Max(ch) - c[ch];
                        v = wide ? L8(d, inv, p) : d + (inv - d) * p / 255;
                        break;
                    }
                    case 11: {
                        const int m = (d * c[ch]) >> W;
                        v = wide ? L8(d, m, p) : d + (m - d) * p / 255;
                        break;
                    }
                    }
                    out |= static_cast<uint32_t>(v) << L.shift[ch];
                }
            }
            WriteRaw(dp, bytes, out);
        }
}

}  // namespace ref

#include "pixel_reference.h"

#include <algorithm>

namespace ref {

namespace {

int64_t FloorDiv(int64_t a, int64_t b)
{
    int64_t q = a / b;
    if (a % b != 0 && ((a < 0) != (b < 0))) --q;
    return q;
}

// floor(x * k / 255)
int64_t Scale(int64_t x, int64_t k) { return FloorDiv(x * k, 255); }

struct Channel {
    int shift;
    int width;
    int64_t Max() const { return (int64_t{1} << width) - 1; }
};
const Channel kWide[3] = {{0, 8}, {8, 8}, {16, 8}};
const Channel kNarrow[3] = {{0, 5}, {5, 6}, {11, 5}};

int64_t Get(uint32_t v, const Channel& c) { return (v >> c.shift) & c.Max(); }

// Packed saturating add and subtract, channel by channel as their rules describe them.
// Channels 0, 1, 2 are blue, green, red; returns the pixel (32-bit: with its fourth byte).
uint32_t Add(bool wide, const int64_t d[3], const int64_t s[3])
{
    if (wide) {
        const int64_t blue = std::min<int64_t>(255, d[0] + s[0]);
        const int kB = d[0] + s[0] >= 256;
        const int64_t hg = (d[1] >> 1) + (s[1] >> 1);
        const int64_t green = hg >= 128 ? 255 : 2 * hg + (((d[1] | s[1]) & 1) | kB);
        const int kG = hg >= 128;
        const int64_t hr = (d[2] >> 1) + (s[2] >> 1);
        const int64_t red = hr >= 128 ? 255 : 2 * hr + (((d[2] | s[2]) & 1) | kG);
        const int64_t fourth = hr >= 128 ? 1 : 0;
        return static_cast<uint32_t>(blue | green << 8 | red << 16 | fourth << 24);
    }
    const int64_t B = std::min<int64_t>(31, d[0] + s[0]);
    const int kB = d[0] + s[0] >= 32;
    const int64_t hg = (d[1] >> 1) + (s[1] >> 1);
    const int64_t G = (hg >= 32 ? 62 : 2 * hg) + (((d[1] | s[1]) & 1) | kB);
    const int kG = hg >= 32;
    const int64_t hr = (d[2] >> 1) + (s[2] >> 1);
    const int64_t R = hr >= 16 ? 31 : 2 * hr + (((d[2] | s[2]) & 1) | kG);
    return static_cast<uint32_t>(B | G << 5 | R << 11);
}

uint32_t Subtract(bool wide, const int64_t d[3], const int64_t s[3])
{
    const int64_t blue = std::max<int64_t>(0, d[0] - s[0]);
    const int gB = d[0] >= s[0];
    const bool greenLow = (d[1] >> 1) < (s[1] >> 1);
    const int gG = !greenLow;
    const bool redLow = (d[2] >> 1) < (s[2] >> 1);
    const int64_t red = redLow ? 0 : 2 * ((d[2] >> 1) - (s[2] >> 1)) + gG;
    if (wide) {
        const int64_t green = greenLow ? 0 : 2 * ((d[1] >> 1) - (s[1] >> 1)) + gB;
        return static_cast<uint32_t>(blue | green << 8 | red << 16);
    }
    const int64_t green = greenLow ? 0 : 2 * ((d[1] >> 1) - (s[1] >> 1));
    return static_cast<uint32_t>(blue | green << 5 | red << 11);
}

}  // namespace

uint32_t BlendPixel(const Blend& b, uint32_t d, uint32_t s)
{
    const Channel* ch = b.wide ? kWide : kNarrow;
    const bool bright = (b.bright & 0xFFFFFF) != 0xFFFFFF;
    const int64_t br[3] = {b.bright & 0xFF, (b.bright >> 8) & 0xFF, (b.bright >> 16) & 0xFF};
    const bool usesP = b.mode == 1 || b.mode == 2 || b.mode == 3 || b.mode == 10 || b.mode == 11;

    // The weights and their number n.
    int n = 0;
    int64_t W = 1;
    if (b.hasMask) W *= b.m, ++n;
    if (b.hasAlpha) W *= b.a, ++n;
    const int nNoP = n;
    const int64_t WNoP = W;
    if (usesP) W *= b.p, ++n;
    // Blend toward t: floor((d * 2^(8n) + (t - d) * W) / 2^(8n)); with no weight, t.
    auto toward = [&](int64_t dv, int64_t tv) {
        if (n == 0) return tv;
        return FloorDiv(dv * (int64_t{1} << (8 * n)) + (tv - dv) * W, int64_t{1} << (8 * n));
    };

    if (b.mode == 0 && n == 0 && !bright) return b.wide ? s : (s & 0xFFFF);

    int64_t dc[3], raw[3], sc[3];
    for (int i = 0; i < 3; ++i) {
        dc[i] = Get(d, ch[i]);
        raw[i] = Get(s, ch[i]);
        sc[i] = bright ? Scale(raw[i], br[i]) : raw[i];
    }

    if (b.mode == 2 || b.mode == 3) {
        int64_t t[3];
        for (int i = 0; i < 3; ++i) {
            if (b.wide) {
                t[i] = nNoP == 0 ? Scale(sc[i], b.p) : FloorDiv(sc[i] * W, int64_t{1} << (8 * n));
            } else if (b.hasAlpha && !b.hasMask && b.alphaBeforeBright16) {
                const int64_t f = FloorDiv(raw[i] * b.a, 256);
                t[i] = Scale(bright ? Scale(f, br[i]) : f, b.p);
            } else {
                t[i] = Scale(FloorDiv(sc[i] * WNoP, int64_t{1} << (8 * nNoP)), b.p);
            }
        }
        const uint32_t r = b.mode == 2 ? Add(b.wide, dc, t) : Subtract(b.wide, dc, t);
        return r;
    }

    uint32_t out = b.wide ? (d & 0xFF000000) : 0;
    for (int i = 0; i < 3; ++i) {
        const int64_t dv = dc[i];
        const int w = ch[i].width;
        int64_t r = 0;
        switch (b.mode) {
        case 0: r = toward(dv, sc[i]); break;
        case 4: r = FloorDiv(sc[i] * dv * WNoP, int64_t{1} << (w + 8 * nNoP)); break;
        case 1:
        case 10:
        case 11: {
            int64_t target = sc[i];
            if (b.mode == 10) {
                target = ch[i].Max() - raw[i];
                if (bright) target = Scale(target, br[i]);
            } else if (b.mode == 11) {
                target = FloorDiv(sc[i] * dv, int64_t{1} << w);
            }
            if (!b.wide && n == 1) {
                // p alone: d + (t - d) * p / 255, truncated toward zero.
                r = dv + (target - dv) * b.p / 255;
            } else if (!b.wide && b.mode == 11 && i == 1 && b.preciseGreen16 && b.hasAlpha &&
                       !b.hasMask && !bright) {
                const int64_t t5 = FloorDiv(sc[i] * dv, 2);
                r = FloorDiv(dv * (int64_t{1} << 21) + (t5 - 32 * dv) * W, int64_t{1} << 21);
            } else {
                r = toward(dv, target);
            }
            break;
        }
        default: r = dv; break;
        }
        out |= static_cast<uint32_t>(r) << ch[i].shift;
    }
    return out;
}

}  // namespace ref

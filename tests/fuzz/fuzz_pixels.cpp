// Pixel formats, base images and the converting copy. Input: a selector byte, then the case.
//
// Formats come from the builders or from any masks and depth, palettes from the input.
// Checked: the palette search finds a nearest entry (lowest index on a tie) for any
// components; the converting copy writes only its destination rectangle, with any options;
// base-image allocation refuses what it cannot hold without keeping memory; clearing and
// copying clip like a plain 64-bit reading of the rectangle, and a copy within one image
// equals a copy from a separate copy of it; pixel access outside an image is refused;
// block-compressed pixels expand for any sizes.
#include <climits>
#include <cstring>
#include <vector>

#include "fuzz.h"
#include "quarn/core/core.h"
#include "quarn/image/image.h"

namespace {

// Control values come from `in`, the many bytes of palettes and pixels from `px`.
ColorFormat MakeFormat(fuzz::Input& in, fuzz::Input& px)
{
    ColorFormat f{};
    switch (in.Byte() % 7) {
    case 0: SetupPalette8Format(&f); break;
    case 1: SetupGrey8Format(&f); break;
    case 2: SetupXrgb8888Format(&f); break;
    case 3: SetupArgb8888Format(&f); break;
    case 4: SetupRgb888Format(&f); break;
    case 5: {
        static const int depths[] = {8, 16, 24, 32};
        const int depth = depths[in.Byte() % 4];
        SetupFormatFromMasks(&f, depth, in.U32(), in.U32(), in.U32(), in.U32());
        break;
    }
    default: {
        // The usual 16-bit layouts, and any depth at all.
        static const uint32_t masks[][4] = {{0xF800, 0x07E0, 0x001F, 0},
                                            {0x7C00, 0x03E0, 0x001F, 0x8000},
                                            {0x0F00, 0x00F0, 0x000F, 0xF000}};
        const uint8_t pick = in.Byte();
        const uint32_t* m = masks[pick % 3];
        SetupFormatFromMasks(&f, pick & 0x80 ? int(in.Byte() % 40) : 16, m[0], m[1], m[2], m[3]);
        break;
    }
    }
    if (f.bytesPerPixel == 1 && in.Bool()) {
        for (PaletteEntry& e : f.palette) e = {px.Byte(), px.Byte(), px.Byte(), px.Byte()};
    }
    return f;
}

void FillBytes(fuzz::Input& px, std::vector<uint8_t>& bytes)
{
    for (uint8_t& b : bytes) b = px.Byte();
}

int Component(fuzz::Input& in) { return in.Bool() ? in.Byte() : in.Coordinate(); }

void CheckPaletteSearch(fuzz::Input& in, fuzz::Input& px)
{
    ColorFormat f{};
    SetupPalette8Format(&f);
    for (PaletteEntry& e : f.palette) e = {px.Byte(), px.Byte(), px.Byte(), 0};
    const int c[3] = {Component(in), Component(in), Component(in)};
    const uint32_t got = EncodePixelColor(&f, c[0], c[1], c[2], Component(in));
    // Components outside 0..255 search as the nearest end.
    int64_t best = INT64_MAX;
    uint32_t want = 0;
    for (uint32_t i = 0; i < 256; ++i) {
        const PaletteEntry& e = f.palette[i];
        const int64_t v[3] = {e.red, e.green, e.blue};
        int64_t d = 0;
        for (int k = 0; k < 3; ++k) {
            const int64_t diff = v[k] - std::clamp(c[k], 0, 255);
            d += diff * diff;
        }
        if (d < best) best = d, want = i;
    }
    FUZZ_CHECK(got == want);
}

void CheckConvert(fuzz::Input& in, fuzz::Input& px)
{
    const ColorFormat sf = MakeFormat(in, px), df = MakeFormat(in, px), af = MakeFormat(in, px);
    const int sb = std::max<int>(sf.bytesPerPixel, 1), db = std::max<int>(df.bytesPerPixel, 1);
    const int ab = std::max<int>(af.bytesPerPixel, 1);
    const int sw = 1 + in.Byte() % 12, sh = 1 + in.Byte() % 12;
    const int sPitch = sw * sb + in.Byte() % 8;
    std::vector<uint8_t> src(size_t(sPitch) * sh), alpha(size_t(sw * ab) * sh);
    FillBytes(px, src);
    FillBytes(px, alpha);
    // A rectangle inside the source, placed inside a destination with a margin around it.
    PixelRect r;
    r.left = in.Byte() % sw;
    r.top = in.Byte() % sh;
    r.right = r.left + 1 + in.Byte() % (sw - r.left);
    r.bottom = r.top + 1 + in.Byte() % (sh - r.top);
    if (in.Byte() % 8 == 0) std::swap(r.left, r.right);  // empty: nothing written
    const int w = std::abs(r.right - r.left), h = r.bottom - r.top;
    const int dx = in.Byte() % 5, dy = in.Byte() % 5;
    const int dw = dx + w + in.Byte() % 5, dh = dy + h + in.Byte() % 5;
    const int dPitch = dw * db + in.Byte() % 8;
    std::vector<uint8_t> dst(size_t(dPitch) * dh);
    FillBytes(px, dst);
    const std::vector<uint8_t> before = dst;

    const uint8_t o = in.Byte();
    ConvertPixelRect(dst.data(), dPitch, &df, src.data(), sPitch, &sf, o & 1 ? alpha.data() : nullptr, sw * ab,
                     o & 1 ? &af : nullptr, dx, dy, &r, o >> 1 & 1, o >> 2 & 1, in.U32(), in.Byte() % 4, o >> 3 & 1,
                     o >> 4 & 1, o >> 5 & 1, o >> 6 & 1);
    // Nothing outside the destination rectangle changes.
    for (int y = 0; y < dh; ++y)
        for (int x = 0; x < dPitch; ++x) {
            const bool inside = r.right > r.left && y >= dy && y < dy + h && x >= dx * db && x < (dx + w) * db;
            if (!inside) FUZZ_CHECK(dst[size_t(y) * dPitch + x] == before[size_t(y) * dPitch + x]);
        }
}

// An image that discards itself.
struct Image : BaseImage {
    Image() : BaseImage{} {}
    ~Image() { DiscardBaseImage(this); }
    Image(const Image&) = delete;
    Image& operator=(const Image&) = delete;
    std::vector<uint8_t> Bytes() const { return {pixels, pixels + size_t(pitch) * height}; }
};

// A small image of a format the pixel access takes (1 to 4 bytes a pixel), filled.
bool MakeImage(fuzz::Input& in, fuzz::Input& px, Image& im, int maxSide = 12)
{
    const ColorFormat f = MakeFormat(in, px);
    if (f.bytesPerPixel < 1 || f.bytesPerPixel > 4) return false;
    if (AllocBaseImage(1 + in.Byte() % maxSide, 1 + in.Byte() % maxSide, &f, &im) != 0) return false;
    std::vector<uint8_t> bytes(size_t(im.pitch) * im.height);
    FillBytes(px, bytes);
    std::memcpy(im.pixels, bytes.data(), bytes.size());
    return true;
}

void CheckAllocation(fuzz::Input& in, fuzz::Input& px)
{
    const ColorFormat f = MakeFormat(in, px);
    const int kind = in.Byte() % 3;
    const int w = in.Coordinate(), h = in.Coordinate();
    const int bpp = kind == 0 ? f.bytesPerPixel : 4;
    const int64_t pitch = kind == 0 ? (int64_t(w) * bpp + 3) / 4 * 4 : int64_t(w) * 4;
    const bool fits = w >= 0 && h >= 0 && pitch <= INT32_MAX && pitch * h <= INT32_MAX;
    if (fits && pitch * h > (1 << 20)) return;  // possible, but too large to try here
    const int32_t blocks = GetAllocatorTotals().blockCount;
    {
        Image im;
        const int r = kind == 0   ? AllocBaseImage(w, h, &f, &im)
                      : kind == 1 ? AllocArgbBaseImage(w, h, &im)
                                  : AllocXrgbBaseImage(w, h, &im);
        FUZZ_CHECK(r == (fits ? 0 : -1));
        FUZZ_CHECK(im.width == w && im.height == h);
        if (!fits) {
            // Refused: no pixels, nothing held, and no access through the record.
            FUZZ_CHECK(im.pixels == nullptr && GetAllocatorTotals().blockCount == blocks);
            const int x = in.Coordinate(), y = in.Coordinate();
            FUZZ_CHECK(ReadBaseImagePixelArgb(&im, x, y) == 0);
            FUZZ_CHECK(WriteBaseImagePixel(&im, x, y, 1, 2, 3, 4) == -1);
            FUZZ_CHECK(ClearBaseImageRect(&im, x, y, in.Coordinate(), in.Coordinate()) == 0);
        } else {
            FUZZ_CHECK(im.pitch == pitch);
        }
    }
    FUZZ_CHECK(GetAllocatorTotals().blockCount == blocks);
}

// The part of [x, x + w) inside [0, size), in 64 bits.
void Span(int64_t x, int64_t w, int64_t size, int64_t& from, int64_t& to)
{
    from = std::max<int64_t>(x, 0);
    to = std::min<int64_t>(x + w, size);
}

void CheckClear(fuzz::Input& in, fuzz::Input& px)
{
    Image im;
    if (!MakeImage(in, px, im)) return;
    const std::vector<uint8_t> before = im.Bytes();
    const int x = in.Coordinate(), y = in.Coordinate(), w = in.Coordinate(), h = in.Coordinate();
    FUZZ_CHECK(ClearBaseImageRect(&im, x, y, w, h) == 0);
    int64_t x0, x1, y0, y1;
    Span(x, w, im.width, x0, x1);
    Span(y, h, im.height, y0, y1);
    const std::vector<uint8_t> after = im.Bytes();
    const int bpp = im.format.bytesPerPixel;
    for (int row = 0; row < im.height; ++row)
        for (int b = 0; b < im.pitch; ++b) {
            const int col = b / bpp;
            const bool cleared = row >= y0 && row < y1 && col >= x0 && col < x1;
            const size_t at = size_t(row) * im.pitch + b;
            FUZZ_CHECK(after[at] == (cleared ? 0 : before[at]));
        }
}

void CheckPixelAccess(fuzz::Input& in, fuzz::Input& px)
{
    Image im;
    if (!MakeImage(in, px, im)) return;
    const std::vector<uint8_t> before = im.Bytes();
    const int x = in.Coordinate(), y = in.Coordinate();
    const bool inside = x >= 0 && x < im.width && y >= 0 && y < im.height;
    int c[4] = {-7, -7, -7, -7};
    const int read = ReadBaseImagePixelRgba(&im, x, y, &c[0], &c[1], &c[2], &c[3]);
    FUZZ_CHECK(read == (inside ? 0 : -1));
    if (!inside) FUZZ_CHECK(c[0] == -7 && c[3] == -7 && ReadBaseImagePixelArgb(&im, x, y) == 0);
    (void)ReadBaseImagePixelArgb(&im, x, y);
    const int r = Component(in), g = Component(in), b = Component(in), a = Component(in);
    FUZZ_CHECK(WriteBaseImagePixel(&im, x, y, r, g, b, a) == (inside ? 0 : -1));
    if (!inside) FUZZ_CHECK(im.Bytes() == before);
    // Mirroring twice gives the image back.
    const std::vector<uint8_t> written = im.Bytes();
    FUZZ_CHECK(MirrorBaseImage(&im) == 0 && MirrorBaseImage(&im) == 0);
    FUZZ_CHECK(im.Bytes() == written);
}

void CheckCopy(fuzz::Input& in, fuzz::Input& px)
{
    Image a, b;
    if (!MakeImage(in, px, a)) return;
    const bool within = in.Bool();
    if (!within && !MakeImage(in, px, b)) return;
    Image& dst = within ? a : b;
    const int sx = in.Coordinate(), sy = in.Coordinate(), w = in.Coordinate(), h = in.Coordinate();
    const int dx = in.Coordinate(), dy = in.Coordinate();
    if (within) {
        // Within one image: as from a separate copy of it.
        Image copy, want;
        FUZZ_CHECK(AllocBaseImage(a.width, a.height, &a.format, &copy) == 0);
        FUZZ_CHECK(AllocBaseImage(a.width, a.height, &a.format, &want) == 0);
        std::memcpy(copy.pixels, a.pixels, size_t(a.pitch) * a.height);
        std::memcpy(want.pixels, a.pixels, size_t(a.pitch) * a.height);
        FUZZ_CHECK(CopyBaseImageRect(sx, sy, w, h, dx, dy, &copy, &want) == 0);
        FUZZ_CHECK(CopyBaseImageRect(sx, sy, w, h, dx, dy, &a, &a) == 0);
        FUZZ_CHECK(a.Bytes() == want.Bytes());
        return;
    }
    // Between two images: only the clipped destination rectangle changes.
    const std::vector<uint8_t> before = dst.Bytes();
    FUZZ_CHECK(CopyBaseImageRect(sx, sy, w, h, dx, dy, &a, &dst) == 0);
    int64_t x = sx, y = sy, X = dx, Y = dy, W = w, H = h;
    if (x < 0) W += x, X -= x, x = 0;
    if (y < 0) H += y, Y -= y, y = 0;
    if (X < 0) W += X, x -= X, X = 0;
    if (Y < 0) H += Y, y -= Y, Y = 0;
    W = std::min({W, dst.width - X, a.width - x});
    H = std::min({H, dst.height - Y, a.height - y});
    const std::vector<uint8_t> after = dst.Bytes();
    const int bpp = dst.format.bytesPerPixel;
    for (int row = 0; row < dst.height; ++row)
        for (int bt = 0; bt < dst.pitch; ++bt) {
            const int col = bt / bpp;
            const bool inside = W > 0 && H > 0 && row >= Y && row < Y + H && col >= X && col < X + W;
            const size_t at = size_t(row) * dst.pitch + bt;
            if (!inside) FUZZ_CHECK(after[at] == before[at]);
        }
    // Resampling, with rectangles anywhere: refused or drawn, never outside.
    (void)ScaleBaseImageRect(sx % 16, sy % 16, dx % 16, dy % 16, &a, w % 16, h % 16, in.Byte() % 16, in.Byte() % 16, &b,
                             in.Byte() % 3);
}

void CheckCompressed(fuzz::Input& in, fuzz::Input& px)
{
    Image im;
    const uint32_t kind = 1 + in.Byte() % 5;
    SetupArgb8888Format(&im.format);
    im.format.bitDepth = kind == 1 ? 4 : 8;
    im.format.compression = kind;
    const bool far = in.Byte() % 4 == 0;
    im.width = far ? in.Coordinate() : in.Byte() % 24;
    im.height = far ? in.Byte() % 2 : in.Byte() % 24;
    // Partial edge blocks are stored whole.
    const int64_t blocks = ((int64_t(std::max(im.width, 0)) + 3) / 4) * ((int64_t(std::max(im.height, 0)) + 3) / 4);
    const bool fits = im.width >= 0 && im.height >= 0 && int64_t(im.width) * 4 <= INT32_MAX &&
                      int64_t(im.width) * 4 * im.height <= INT32_MAX;
    if (blocks > 4096 || (fits && int64_t(im.width) * 4 * im.height > (1 << 20))) return;
    const uint32_t bytes = uint32_t(blocks * (kind == 1 ? 8 : 16)) + 1;
    im.pixels = static_cast<uint8_t*>(AllocTrackedMemory(bytes, "", 0));
    std::vector<uint8_t> data(bytes);
    FillBytes(px, data);
    std::memcpy(im.pixels, data.data(), bytes);
    FUZZ_CHECK(ExpandCompressedBaseImage(&im) == (fits ? 0 : -1));
    if (fits) FUZZ_CHECK(im.format.compression == 0 && im.pitch == im.width * 4);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    // The case from the first bytes, palettes and pixels from the rest (and a generator).
    fuzz::Input rest{data, size};
    fuzz::Input in = rest.Take(64);
    fuzz::Input px = rest;
    px.noise = 0x9E3779B9u ^ uint32_t(size);
    switch (in.Byte() % 8) {
    case 0: CheckPaletteSearch(in, px); break;
    case 2: CheckAllocation(in, px); break;
    case 3: CheckClear(in, px); break;
    case 4: CheckPixelAccess(in, px); break;
    case 5: CheckCopy(in, px); break;
    case 6: CheckCompressed(in, px); break;
    default: CheckConvert(in, px); break;  // 1 and 7
    }
    return 0;
}

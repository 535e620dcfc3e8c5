// The four software kernels against the slow reference. Input: the layout, the source and
// mask, the draw settings, then the kernel and its coordinates.
//
// Each case draws into a destination view inside a larger store whose edge is a sentinel:
// the kernel's store must equal the reference's byte for byte, and nothing outside the view
// may change. Coordinates, clips and corners reach INT32_MIN and INT32_MAX. Triangles of any
// shape (for which there is no reference) must stay inside the view and the clip, and must
// read only the source view: the source store around it holds a colour that may never be
// drawn.
#include <cstring>
#include <vector>

#include "fuzz.h"
#include "quarn/core/core.h"
#include "quarn/softrender/softrender.h"
#include "../softrender/render_reference.h"

namespace {

// A view that releases itself.
struct View {
    MEMIMG v{};
    View() = default;
    View(const View&) = delete;
    View& operator=(const View&) = delete;
    ~View() { ReleaseMemImgRef(&v); }
};

int Bytes(const MEMIMG& v) { return MemImgBytesPerPixel(v.store->kind, v.store->paletted, v.store->alpha); }

void Put(MEMIMG& v, int x, int y, uint32_t value)
{
    std::memcpy(v.pixels + v.store->pitch * y + Bytes(v) * x, &value, size_t(Bytes(v)));
}

uint32_t Get(const MEMIMG& v, int x, int y)
{
    uint32_t r = 0;
    std::memcpy(&r, v.pixels + v.store->pitch * y + Bytes(v) * x, size_t(Bytes(v)));
    return r;
}

std::vector<uint8_t> StoreBytes(const MEMIMG& v)
{
    const MemImgBase* s = v.store;
    return {s->pixels, s->pixels + size_t(s->pitch) * s->height};
}

// A pixel value: often one of the corners of the arithmetic, or the transparent key.
uint32_t Pixel(fuzz::Input& in, uint32_t key)
{
    static const uint32_t corners[] = {0x00000000, 0xFFFFFFFF, 0x01010101, 0xFEFEFEFE,
                                       0x80808080, 0x7F7F7F7F, 0x0821F7DE, 0xF800001F};
    const uint8_t pick = in.Byte();
    if (pick < 32) return key;
    if (pick < 96) return corners[pick % 8];
    return in.U32();
}

// The destination store, its edge a sentinel, and the view inside it.
constexpr int kMargin = 2;
constexpr uint8_t kSentinel = 0xAB;

struct Destination {
    View store, view;
    int w = 0, h = 0;
};

bool MakeDestination(Destination& d, int kind, int w, int h, fuzz::Input& in)
{
    if (CreatePlainMemImg(&d.store.v, w + 2 * kMargin, h + 2 * kMargin, kind) != 0) return false;
    std::memset(d.store.v.store->pixels, kSentinel, size_t(d.store.v.store->pitch) * d.store.v.store->height);
    MakeMemImgView(&d.view.v, &d.store.v, kMargin, kMargin, w, h);
    d.w = w;
    d.h = h;
    // Never the colour around the source view, which must not be drawn.
    const uint32_t outside = kind == 1 ? 0x00FF00FFu : 0xF81Fu;
    for (int y = 0; y < h; ++y)
        for (int x = 0; x < w; ++x) {
            const uint32_t p = Pixel(in, 0);
            Put(d.view.v, x, y, p == outside ? p ^ 1 : p);
        }
    return true;
}

void CopyStore(const Destination& from, Destination& to)
{
    std::memcpy(to.store.v.store->pixels, from.store.v.store->pixels,
                size_t(from.store.v.store->pitch) * from.store.v.store->height);
}

// Nothing outside the view (or outside the clip, when given) changed from `before`.
void CheckStaysInside(const Destination& d, const std::vector<uint8_t>& before, const PixelRect* clip)
{
    const std::vector<uint8_t> after = StoreBytes(d.store.v);
    const int bpp = Bytes(d.store.v);
    const int pitch = d.store.v.store->pitch;
    for (int y = 0; y < d.h + 2 * kMargin; ++y)
        for (int x = 0; x < pitch / bpp; ++x) {
            const int vx = x - kMargin, vy = y - kMargin;
            bool inside = vx >= 0 && vx < d.w && vy >= 0 && vy < d.h;
            if (clip) inside = inside && vx >= clip->left && vx < clip->right && vy >= clip->top && vy < clip->bottom;
            if (inside) continue;
            const size_t at = size_t(y) * pitch + size_t(x) * bpp;
            FUZZ_CHECK(std::memcmp(&after[at], &before[at], size_t(bpp)) == 0);
        }
}

ref::Settings MakeSettings(fuzz::Input& in)
{
    static const int modes[] = {0, 1, 2, 3, 4, 10, 11, -1, 5, 7, 9, 12};
    static const int params[] = {0, 1, 128, 254, 255};
    ref::Settings s{};
    s.mode = modes[in.Byte() % 12];
    const uint8_t p = in.Byte();
    s.p = p < 128 ? params[(p + 4) % 5] : in.Byte();
    const uint8_t b = in.Byte();
    s.bright = b < 128 ? 0xFFFFFF : b < 160 ? 0xFFFEFF : in.U32() & 0xFFFFFF;
    if (in.Bool()) {
        s.clip = {in.Coordinate(), in.Coordinate(), in.Coordinate(), in.Coordinate()};
    } else {
        s.clip = {INT32_MIN, INT32_MIN, INT32_MAX, INT32_MAX};
    }
    s.borderPos = in.Byte();
    s.borderRange = in.Byte();
    s.simd = in.Byte() % 3;
    return s;
}

SoftBlendState UseSettings(const ref::Settings& s, const MEMIMG* clipTarget = nullptr)
{
    BuildBlendMaskAlphaTable(s.borderPos, s.borderRange);
    OverrideMmxUsable(s.simd >= 1 ? 1 : 0);
    OverrideSse2Usable(s.simd >= 2 ? 1 : 0);
    SoftBlendState state{};
    state.blendMode = static_cast<BlendMode>(s.mode);
    state.blendParam = s.p;
    state.brightColor = s.bright;
    state.clip = s.clip;
    state.clipTarget = clipTarget;
    return state;
}

// An arbitrary triangle: only where it may write and what it may read are checked. The
// source store around the source view holds `outside`, which no texel of the view has.
void CheckAnyTriangle(fuzz::Input& in, int kind, const MEMIMG* src, const MEMIMG* mask, uint32_t outside,
                      Destination& d, const ref::Settings& s)
{
    MemImgVertex v[3];
    for (MemImgVertex& c : v) {
        const bool far = in.Byte() % 4 == 0;
        c.x = far ? in.Coordinate() : int32_t(in.Byte() % 40) - 12;
        c.y = far ? in.Coordinate() : int32_t(in.Byte() % 40) - 12;
        c.u = far ? in.Coordinate() : int32_t(in.Byte() % 40) - 12;
        c.v = far ? in.Coordinate() : int32_t(in.Byte() % 40) - 12;
    }
    const int trans = in.Bool();
    const uint32_t flat = in.U32();
    const std::vector<uint8_t> before = StoreBytes(d.store.v);
    RenderMemImgTriangle(UseSettings(s), &d.view.v, src, v, trans, mask, flat);
    CheckStaysInside(d, before, &s.clip);
    // A plain copy shows the texels themselves: none may be the colour around the view.
    if (src && kind == 1 && !src->store->alpha && !src->store->paletted && s.mode == 0 && s.bright == 0xFFFFFF && !mask)
        for (int y = 0; y < d.h; ++y)
            for (int x = 0; x < d.w; ++x) FUZZ_CHECK(Get(d.view.v, x, y) != outside);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    static const bool ready = (BuildMemImgBlendTables(), true);
    (void)ready;
    // The case from the first bytes, the pixels from the rest (and a generator after them).
    fuzz::Input rest{data, size};
    fuzz::Input in = rest.Take(64);
    fuzz::Input px = rest;
    px.noise = 0x9E3779B9u ^ uint32_t(size);

    const int kind = in.Byte() & 1;
    const int type = in.Byte() % 3;  // plain, alpha, paletted
    const bool pal = type == 2, alpha = type == 1;
    const int kernel = in.Byte() % 5;
    const ref::Settings s = MakeSettings(in);
    const int trans = in.Bool();

    // The source: a view inside a larger store whose surroundings hold `outside`.
    const int sw = 1 + in.Byte() % 10, sh = 1 + in.Byte() % 10;
    const int sx = in.Byte() % 3, sy = in.Byte() % 3;
    const uint32_t key = pal ? in.Byte() : Pixel(in, 0);
    const uint32_t outside = kind == 1 ? 0x00FF00FFu : 0xF81Fu;
    View srcStore, src, mask;
    if (CreateMemImgWithOptions(&srcStore.v, sw + sx + 2, sh + sy + 2, -1, key, kind, pal, alpha, 1, nullptr) != 0)
        return 0;
    for (int y = 0; y < sh + sy + 2; ++y)
        for (int x = 0; x < sw + sx + 2; ++x) Put(srcStore.v, x, y, pal ? 0 : outside);
    MakeMemImgView(&src.v, &srcStore.v, sx, sy, sw, sh);
    MemImgBase* ss = srcStore.v.store;
    if (pal) {
        // Index 0 marks the surroundings: its colour may never be drawn either.
        const int entry = kind == 1 ? 4 : 2;
        for (int i = 0; i < 256; ++i) {
            uint32_t e = Pixel(px, 0) & (kind == 1 ? 0xFFFFFFu : 0xFFFFu);
            if (i == 0 || e == outside) e = i == 0 ? outside : e ^ 1;
            std::memcpy(ss->palette + entry * i, &e, size_t(entry));
        }
        ss->paletteCount = 256;
    }
    for (int y = 0; y < sh; ++y)
        for (int x = 0; x < sw; ++x) {
            uint32_t p = pal ? 1 + px.Byte() % 255 : Pixel(px, key);
            if (!pal && !alpha && kind == 1) p &= 0x00FFFFFF;
            if (!pal && (p & (kind == 1 ? 0xFFFFFFu : 0xFFFFu)) == outside) p ^= 1;
            Put(src.v, x, y, p);
        }
    if (in.Bool()) BuildMemImgLineRuns(&src.v);
    else MarkMemImgPixelsChanged(ss);

    const MEMIMG* m = nullptr;
    const uint8_t maskByte = in.Byte();
    if (maskByte & 1) {
        const int mw = maskByte % 8 == 1 ? sw - 1 : sw;  // sometimes too small
        if (mw > 0 && CreateMemImgWithOptions(&mask.v, mw, sh, -1, 0, kMemImgGrey8, 0, 0, 0, nullptr) == 0) {
            for (int y = 0; y < sh; ++y)
                for (int x = 0; x < mw; ++x) Put(mask.v, x, y, px.Byte());
            m = &mask.v;
        }
    }

    Destination got, want;
    const int dw = 1 + in.Byte() % 14, dh = 1 + in.Byte() % 12;
    if (!MakeDestination(got, kind, dw, dh, px) || !MakeDestination(want, kind, dw, dh, px)) return 0;
    CopyStore(got, want);
    const std::vector<uint8_t> before = StoreBytes(got.store.v);

    switch (kernel) {
    case 0: {
        const int x = in.Coordinate(), y = in.Coordinate();
        RenderMemImg(UseSettings(s), &got.view.v, &src.v, x, y, trans, m);
        ref::Render(&want.view.v, &src.v, x, y, trans, m, s);
        break;
    }
    case 1: {
        const int32_t corners[4] = {in.Coordinate(), in.Coordinate(), in.Coordinate(), in.Coordinate()};
        RenderMemImgScaled(UseSettings(s), &got.view.v, &src.v, corners, trans, m);
        ref::RenderScaled(&want.view.v, &src.v, corners, trans, m, s);
        break;
    }
    case 2: {
        const PixelRect rect = {in.Coordinate(), in.Coordinate(), in.Coordinate(), in.Coordinate()};
        const bool whole = in.Byte() % 4 == 0, target = in.Bool();
        const uint32_t color = kind == 1 ? Pixel(in, 0) : Pixel(in, 0) & 0xFFFF;
        RenderMemImgFillRect(UseSettings(s, target ? &got.view.v : nullptr), &got.view.v, whole ? nullptr : &rect,
                             color);
        ref::Fill(&want.view.v, whole ? nullptr : &rect, color, s, target);
        break;
    }
    case 3: {
        // The identity quad: two triangles that put each texel on the pixel at its offset.
        const int32_t limit = kMemImgTriangleCoordLimit;
        const bool far = in.Byte() % 4 == 3;
        const int32_t qx = far ? int32_t(in.U32() % (2u * limit - 64)) - limit + 16 : int32_t(in.Byte() % 24) - 8;
        const int32_t qy = far ? int32_t(in.U32() % (2u * limit - 64)) - limit + 16 : int32_t(in.Byte() % 24) - 8;
        const MemImgVertex c[4] = {{qx, qy, 0, 0},
                                   {qx + sw, qy, sw, 0},
                                   {qx, qy + sh, 0, sh},
                                   {qx + sw, qy + sh, sw, sh}};
        const MemImgVertex first[3] = {c[0], c[1], c[2]}, second[3] = {c[1], c[2], c[3]};
        const SoftBlendState state = UseSettings(s);
        RenderMemImgTriangle(state, &got.view.v, &src.v, first, trans, m, 0);
        RenderMemImgTriangle(state, &got.view.v, &src.v, second, trans, m, 0);
        // A mask smaller than the source draws nothing.
        if (!m || (m->width >= sw && m->height >= sh)) ref::TriangleQuad(&want.view.v, &src.v, m, qx, qy, trans, s);
        break;
    }
    default: CheckAnyTriangle(in, kind, in.Bool() ? nullptr : &src.v, m, outside, got, s); return 0;
    }
    FUZZ_CHECK(StoreBytes(got.store.v) == StoreBytes(want.store.v));
    CheckStaysInside(got, before, nullptr);
    return 0;
}

// The texture formats of the hardware renderer: the 16-entry table chosen when the device
// starts, the pixel layouts of each request kind and of each device format, and the sizes
// derived from the device's limits.
#include "quarn/graphics/d3d9/device_graph.h"
#include "quarn/graphics/d3d9/device_state.h"

#include "quarn/graphics/graph.h"

uint32_t g_textureFormats[16] = {};

namespace {

struct Candidate {
    uint32_t format;
    const wchar_t* name;
};

// One table entry: the first candidate the device accepts, its name written into the line.
// -1 when none passes.
int32_t PickEntry(TextureFormatCheck check, void* context, uint32_t usage, const Candidate* candidates, int32_t count,
                  const wchar_t* line, uint32_t* out, const wchar_t** name)
{
    for (int32_t i = 0; i < count; ++i) {
        if (check(usage, candidates[i].format, context)) {
            *out = candidates[i].format;
            *name = candidates[i].name;
            AppendLogFormat(line, candidates[i].name);
            return 0;
        }
    }
    return -1;
}

}  // namespace

int32_t FillTextureFormatTable(TextureFormatCheck check, void* context, uint32_t backBufferFormat, int32_t screenBits,
                               uint32_t table[16])
{
    const wchar_t* name16 = nullptr;
    const wchar_t* name = nullptr;
    {
        const Candidate c[] = {{kFmtR5G6B5, L"Q_D3DFMT_R5G6B5"}, {kFmtX1R5G5B5, L"Q_D3DFMT_X1R5G5B5"}};
        if (PickEntry(check, context, 0, c, 2, L"16bit カラーフォーマットは %ls です", &table[0], &name16) != 0) {
            return AppendLog(L"使用できる 16bit カラーフォーマットが見つかりませんでした\n");
        }
    }
    {
        const Candidate c[] = {{kFmtX8R8G8B8, L"Q_D3DFMT_X8R8G8B8"}};
        if (PickEntry(check, context, 0, c, 1, L"32bit カラーフォーマットは %ls です", &table[1], &name) != 0) {
            table[1] = table[0];
            AppendLogFormat(L"32bit カラーフォーマットは %ls です", name16);
        }
    }
    struct Required {
        Candidate candidates[3];
        int32_t count;
        const wchar_t* line;
        const wchar_t* failure;
    };
    const Required required[] = {
        {{{kFmtA4R4G4B4, L"Q_D3DFMT_A4R4G4B4"}, {kFmtA8R8G8B8, L"Q_D3DFMT_A8R8G8B8"}},
         2,
         L"アルファ付き 16bit カラーフォーマットは %ls です",
         L"使用できるアルファ付き 16bit カラーフォーマットが見つかりませんでした\n"},
        {{{kFmtA8R8G8B8, L"Q_D3DFMT_A8R8G8B8"}, {kFmtA4R4G4B4, L"Q_D3DFMT_A4R4G4B4"}},
         2,
         L"アルファ付き 32bit カラーフォーマットは %ls です",
         L"使用できるアルファ付き 32bit カラーフォーマットが見つかりませんでした\n"},
        {{{kFmtA1R5G5B5, L"Q_D3DFMT_A1R5G5B5"},
          {kFmtA8R8G8B8, L"Q_D3DFMT_A8R8G8B8"},
          {kFmtA4R4G4B4, L"Q_D3DFMT_A4R4G4B4"}},
         3,
         L"アルファテスト用 16bit カラーフォーマットは %ls です",
         L"使用できるアルファテスト用 16bit カラーフォーマットが見つかりませんでした\n"},
        {{{kFmtA8R8G8B8, L"Q_D3DFMT_A8R8G8B8"},
          {kFmtA1R5G5B5, L"Q_D3DFMT_A1R5G5B5"},
          {kFmtA4R4G4B4, L"Q_D3DFMT_A4R4G4B4"}},
         3,
         L"アルファテスト用 32bit カラーフォーマットは %ls です",
         L"使用できるアルファテスト用 32bit カラーフォーマットが見つかりませんでした\n"},
    };
    for (int32_t i = 0; i < 4; ++i) {
        const Required& r = required[i];
        if (PickEntry(check, context, 0, r.candidates, r.count, r.line, &table[2 + i], &name) != 0) {
            return AppendLog(r.failure);
        }
    }
    static const wchar_t* const dxtLines[5] = {L"ＤＸＴ１テクスチャフォーマットは%ls",
                                               L"ＤＸＴ２テクスチャフォーマットは%ls",
                                               L"ＤＸＴ３テクスチャフォーマットは%ls",
                                               L"ＤＸＴ４テクスチャフォーマットは%ls",
                                               L"ＤＸＴ５テクスチャフォーマットは%ls"};
    static const Candidate dxt[5] = {{kFmtDxt1, L" Q_D3DFMT_DXT1 です"},
                                     {kFmtDxt2, L" Q_D3DFMT_DXT2 です"},
                                     {kFmtDxt3, L" Q_D3DFMT_DXT3 です"},
                                     {kFmtDxt4, L" Q_D3DFMT_DXT4 です"},
                                     {kFmtDxt5, L" Q_D3DFMT_DXT5 です"}};
    for (int32_t i = 0; i < 5; ++i) {
        if (PickEntry(check, context, 0, &dxt[i], 1, dxtLines[i], &table[6 + i], &name) != 0) {
            // DXT1 stands in as alpha-test colour, the others as colour with alpha.
            table[6 + i] = table[i == 0 ? 4 : 3];
            AppendLogFormat(dxtLines[i], L"使えません");
        }
    }
    struct Optional {
        Candidate candidates[3];
        const wchar_t* line;
        const wchar_t* failure;
    };
    const bool back565 = backBufferFormat == kFmtR5G6B5;
    const Optional optional[] = {
        {{back565 ? Candidate{kFmtR5G6B5, L"D3DFMT_R5G6B5"} : Candidate{kFmtX1R5G5B5, L"Q_D3DFMT_R5G5B5"},
          back565 ? Candidate{kFmtX1R5G5B5, L"D3DFMT_R5G5B5"} : Candidate{kFmtR5G6B5, L"Q_D3DFMT_R5G6B5"},
          {kFmtX8R8G8B8, L"Q_D3DFMT_X8R8G8B8"}},
         L"描画用 16bit カラーフォーマットは %ls です",
         L"使用できる描画用 16bit カラーフォーマットがありませんでした\n"},
        {{{kFmtX8R8G8B8, L"Q_D3DFMT_X8R8G8B8"}, {kFmtR5G6B5, L"D3DFMT_R5G6B5"}, {kFmtX1R5G5B5, L"D3DFMT_R5G5B5"}},
         L"描画用 32bit カラーフォーマットは %ls です",
         L"使用できる描画用 32bit カラーフォーマットがありませんでした\n"},
        {{{kFmtA8R8G8B8, L"Q_D3DFMT_A8R8G8B8"}, {kFmtA4R4G4B4, L"D3DFMT_A4R4G4B4"}, {0, nullptr}},
         L"描画用アルファ付き 32bit カラーフォーマットは %ls です",
         L"使用できる描画用アルファ付き 32bit カラーフォーマットがありませんでした\n"},
    };
    for (int32_t i = 0; i < 3; ++i) {
        const Optional& o = optional[i];
        const int32_t count = o.candidates[2].name != nullptr ? 3 : 2;
        if (PickEntry(check, context, kUsageRenderTarget, o.candidates, count, o.line, &table[11 + i], &name) != 0) {
            table[11 + i] = kFmtUnknown;
            AppendLog(o.failure);
        }
    }
    table[14] = screenBits == 32 ? table[12] : table[11];
    table[15] = screenBits == 32 ? table[5] : table[4];
    return 0;
}

int32_t MaxTextureSizeFromCaps(uint32_t* maxWidth, uint32_t* maxHeight)
{
    if (*maxWidth == 0) {
        *maxWidth = 256;
    }
    if (*maxHeight == 0) {
        *maxHeight = 256;
    }
    const uint32_t side = *maxWidth < *maxHeight ? *maxWidth : *maxHeight;
    return side > 0x40000000u ? 0x40000000 : static_cast<int32_t>(side);
}

int32_t DepthBufferSide(int32_t length)
{
    int32_t side = 1;
    while (side < length && side < 0x40000000) {
        side <<= 1;
    }
    return side;
}

const ColorFormat* GetTextureColorFormat(int32_t kind)
{
    if (kind < 0 || kind > 13) {
        return nullptr;
    }
    static ColorFormat formats[14];
    static bool built[14];
    if (!built[kind]) {
        ColorFormat& f = formats[kind];
        switch (kind) {
        case 0:
        case 11: SetupFormatFromMasks(&f, 16, 0xF800, 0x07E0, 0x001F, 0); break;
        case 1:
        case 12: SetupFormatFromMasks(&f, 32, 0xFF0000, 0xFF00, 0xFF, 0); break;
        case 2: SetupFormatFromMasks(&f, 16, 0x0F00, 0x00F0, 0x000F, 0xF000); break;
        case 4: SetupFormatFromMasks(&f, 16, 0x7C00, 0x03E0, 0x001F, 0x8000); break;
        default: SetupFormatFromMasks(&f, 32, 0xFF0000, 0xFF00, 0xFF, 0xFF000000u); break;
        }
        if (kind >= 6 && kind <= 10) {
            f.bitDepth = kind == 6 ? 4 : 8;
            f.compression = static_cast<uint32_t>(kind - 5);
        }
        built[kind] = true;
    }
    return &formats[kind];
}

const ColorFormat* GetDisplayFormatColorFormat(uint32_t format)
{
    struct Layout {
        uint32_t code;
        int bits;
        uint32_t r, g, b, a;
    };
    static const Layout layouts[] = {
        {kFmtR8G8B8, 24, 0xFF0000, 0xFF00, 0xFF, 0},
        {kFmtA8R8G8B8, 32, 0xFF0000, 0xFF00, 0xFF, 0xFF000000u},
        {kFmtX8R8G8B8, 32, 0xFF0000, 0xFF00, 0xFF, 0},
        {kFmtR5G6B5, 16, 0xF800, 0x07E0, 0x001F, 0},
        {kFmtX1R5G5B5, 16, 0x7C00, 0x03E0, 0x001F, 0},
        {kFmtA1R5G5B5, 16, 0x7C00, 0x03E0, 0x001F, 0x8000},
        {kFmtA4R4G4B4, 16, 0x0F00, 0x00F0, 0x000F, 0xF000},
        {kFmtR3G3B2, 8, 0xE0, 0x1C, 0x03, 0},
        {kFmtA8R3G3B2, 16, 0xE0, 0x1C, 0x03, 0xFF00},
        {kFmtX4R4G4B4, 16, 0x0F00, 0x00F0, 0x000F, 0},
        {kFmtA2B10G10R10, 32, 0x3FF, 0xFFC00, 0x3FF00000, 0xC0000000u},
        {kFmtA8B8G8R8, 32, 0xFF, 0xFF00, 0xFF0000, 0xFF000000u},
        {kFmtX8B8G8R8, 32, 0xFF, 0xFF00, 0xFF0000, 0},
        {kFmtA2R10G10B10, 32, 0x3FF00000, 0xFFC00, 0x3FF, 0xC0000000u},
    };
    constexpr int32_t count = sizeof(layouts) / sizeof(layouts[0]);
    static ColorFormat formats[count];
    static bool built[count];
    for (int32_t i = 0; i < count; ++i) {
        if (layouts[i].code == format) {
            if (!built[i]) {
                SetupFormatFromMasks(&formats[i], layouts[i].bits, layouts[i].r, layouts[i].g, layouts[i].b,
                                     layouts[i].a);
                built[i] = true;
            }
            return &formats[i];
        }
    }
    return nullptr;
}

const ColorFormat* ChooseTextureFormat(const TextureFormatRequest* request)
{
    return GetTextureColorFormat(GetTextureFormatIndex(request));
}

const ColorFormat* PickTextureFormat(uint8_t alpha, uint8_t alphaTest, int32_t wide, uint8_t renderTarget)
{
    TextureFormatRequest request{};
    request.alphaChannel = alpha;
    request.alphaTest = alphaTest;
    request.renderTarget = renderTarget;
    request.colorBits = wide != 0 ? 32 : 16;
    return ChooseTextureFormat(&request);
}

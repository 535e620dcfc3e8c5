// Model textures: the three built-in images, the texture build (normal map and power-of-two
// resampling) and the restore that rebuilds every texture into its graph.
#include "quarn/graphics/graph.h"
#include "quarn/model/model.h"
#include "quarn/model/model_internal.h"
#include "quarn/model/model_os.h"

namespace {

// TGA files, run-length encoded true colour, stored bottom-up, one run packet per run of a
// row, each with the TGA 2.0 footer.
// clang-format off
#define QUARN_TGA_FOOTER                                                                                      \
    0, 0, 0, 0, 0, 0, 0, 0, 'T', 'R', 'U', 'E', 'V', 'I', 'S', 'I', 'O', 'N', '-', 'X', 'F', 'I', 'L', 'E', '.', \
        0

// 8 x 8, 32-bit with 8 alpha bits: opaque white.
#define QUARN_WHITE_ROW 0x87, 0xFF, 0xFF, 0xFF, 0xFF
const uint8_t kWhiteImage[] = {
    0, 0, 10, 0, 0, 0, 0, 0, 0, 0, 0, 0, 8, 0, 8, 0, 32, 0x08,
    QUARN_WHITE_ROW, QUARN_WHITE_ROW, QUARN_WHITE_ROW, QUARN_WHITE_ROW,
    QUARN_WHITE_ROW, QUARN_WHITE_ROW, QUARN_WHITE_ROW, QUARN_WHITE_ROW,
    QUARN_TGA_FOOTER,
};

// 256 x 8, 24-bit: each row four runs of 64 pixels, grey 0x00, 0x55, 0xAA and 0xFF.
#define QUARN_RAMP_ROW 0xBF, 0x00, 0x00, 0x00, 0xBF, 0x55, 0x55, 0x55, 0xBF, 0xAA, 0xAA, 0xAA, 0xBF, 0xFF, 0xFF, 0xFF
const uint8_t kRampImage[] = {
    0, 0, 10, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 1, 8, 0, 24, 0x00,
    QUARN_RAMP_ROW, QUARN_RAMP_ROW, QUARN_RAMP_ROW, QUARN_RAMP_ROW,
    QUARN_RAMP_ROW, QUARN_RAMP_ROW, QUARN_RAMP_ROW, QUARN_RAMP_ROW,
    QUARN_TGA_FOOTER,
};
// clang-format on

static_assert(sizeof kWhiteImage == 84 && sizeof kRampImage == 172, "the built-in images' sizes");

bool IsPowerOfTwo(int32_t value) { return value > 0 && (value & (value - 1)) == 0; }

int32_t NextPowerOfTwo(int32_t value)
{
    int32_t power = 1;
    while (power < value && power < 0x40000000) {
        power <<= 1;
    }
    return power;
}

// Resamples the image (bilinear) to powers of two, each side at most half the device's
// largest texture side. 0, or -1 with the image kept as it was.
int32_t ResampleToPowerOfTwo(BaseImage* image, const ModelDeviceFacts& facts)
{
    if (IsPowerOfTwo(image->width) && IsPowerOfTwo(image->height)) {
        return 0;
    }
    int32_t width = NextPowerOfTwo(image->width);
    int32_t height = NextPowerOfTwo(image->height);
    const int32_t widthLimit = facts.maxTextureWidth / 2 > 0 ? facts.maxTextureWidth / 2 : 1;
    const int32_t heightLimit = facts.maxTextureHeight / 2 > 0 ? facts.maxTextureHeight / 2 : 1;
    width = width < widthLimit ? width : widthLimit;
    height = height < heightLimit ? height : heightLimit;
    BaseImage resized{};
    if (AllocBaseImage(width, height, &image->format, &resized) != 0) {
        DiscardBaseImage(&resized);
        return -1;
    }
    if (ScaleBaseImageRect(0, 0, image->width, image->height, image, 0, 0, width, height, &resized, 1) != 0) {
        DiscardBaseImage(&resized);
        return -1;
    }
    DiscardBaseImage(image);
    *image = resized;
    return 0;
}

// The normal map of the image's red channel as a height field (wrapping at the edges).
int32_t MakeNormalMap(BaseImage* color, float heightScale)
{
    const float s = heightScale < 0.000001f ? 0.000001f : heightScale;
    BaseImage normal{};
    if (AllocXrgbBaseImage(color->width, color->height, &normal) != 0) {
        DiscardBaseImage(&normal);
        return -1;
    }
    for (int32_t y = 0; y < color->height; ++y) {
        const int32_t below = y + 1 < color->height ? y + 1 : 0;
        for (int32_t x = 0; x < color->width; ++x) {
            const int32_t right = x + 1 < color->width ? x + 1 : 0;
            int h = 0;
            int hx = 0;
            int hy = 0;
            ReadBaseImagePixelRgba(color, x, y, &h, nullptr, nullptr, nullptr);
            ReadBaseImagePixelRgba(color, right, y, &hx, nullptr, nullptr, nullptr);
            ReadBaseImagePixelRgba(color, x, below, &hy, nullptr, nullptr, nullptr);
            const float gx = static_cast<float>(hx - h) / 255.0f;
            const float gy = static_cast<float>(hy - h) / 255.0f;
            // (s, 0, gx) x (0, s, gy)
            Vector3 n{};
            MakeUnitVector3(&n, -s * gx, -s * gy, s * s);
            WriteBaseImagePixel(&normal, x, y, TruncateFloatToInt((n.x + 1.0f) * 127.5f),
                                TruncateFloatToInt((n.y + 1.0f) * 127.5f), TruncateFloatToInt((n.z + 1.0f) * 127.5f),
                                0);
        }
    }
    DiscardBaseImage(color);
    *color = normal;
    return 0;
}

// Builds the entry's texture and hands it to its graph; a build that fails leaves the graph.
void RestoreTextureEntry(const ModelTextureEntry& entry)
{
    BaseImage color{};
    BaseImage alpha{};
    if (BuildModelTexture(&color, &alpha, entry.colorData, entry.colorSize, entry.alphaData, entry.alphaSize,
                          entry.normalMap, entry.heightScale) != 0) {
        return;
    }
    RefillGraphFromBaseImage(&color, entry.alphaData != nullptr ? &alpha : nullptr, entry.graph, 1, 0, 1);
    DiscardBaseImage(&color);
    DiscardBaseImage(&alpha);
}

}  // namespace

const ModelBuiltInImage kModelBuiltInImages[3] = {
    {kWhiteImage, static_cast<int32_t>(sizeof kWhiteImage)},
    {kRampImage, static_cast<int32_t>(sizeof kRampImage)},
    {kRampImage, static_cast<int32_t>(sizeof kRampImage)},
};

int32_t BuildModelTexture(BaseImage* color, BaseImage* alpha, const void* colorData, int32_t colorSize,
                          const void* alphaData, int32_t alphaSize, uint32_t normalMap, float heightScale)
{
    *color = BaseImage{};
    *alpha = BaseImage{};
    auto fail = [color, alpha]() {
        DiscardBaseImage(color);
        DiscardBaseImage(alpha);
        return -1;
    };
    if (colorData != nullptr && DecodeImageToBaseImage(nullptr, colorData, colorSize, 1, color, 0) != 0) {
        return fail();
    }
    if (alphaData != nullptr && DecodeImageToBaseImage(nullptr, alphaData, alphaSize, 1, alpha, 0) != 0) {
        return fail();
    }
    if (colorData == nullptr) {
        if (AllocXrgbBaseImage(alpha->width, alpha->height, color) != 0) {
            return fail();
        }
        FillBytes(color->pixels, 0xFF, static_cast<uint32_t>(color->pitch) * static_cast<uint32_t>(color->height));
    }
    if (normalMap != 0 && MakeNormalMap(color, heightScale) != 0) {
        return fail();
    }
    const ModelDeviceFacts facts = ReadModelDeviceFacts();
    if (colorData != nullptr && ResampleToPowerOfTwo(color, facts) != 0) {
        return fail();
    }
    if (alphaData != nullptr && ResampleToPowerOfTwo(alpha, facts) != 0) {
        return fail();
    }
    return 0;
}

int32_t RestoreModelTextures()
{
    ModelRegistry& r = g_modelRegistry;
    for (int32_t i = 0; i < 3; ++i) {
        RefillGraphFromImageData(kModelBuiltInImages[i].bytes, kModelBuiltInImages[i].size, r.builtInGraphs[i], nullptr,
                                 0, 1, 0);
    }
    ForEachModelRecord(
        &r.bases,
        [](int32_t, void* record, void*) {
            const auto* base = static_cast<const ModelBaseRecord*>(record);
            for (int32_t i = 0; base->textures != nullptr && i < base->textureCount; ++i) {
                RestoreTextureEntry(base->textures[i]);
            }
        },
        nullptr);
    ForEachModelRecord(
        &r.instances,
        [](int32_t, void* record, void*) {
            const auto* instance = static_cast<const ModelInstanceRecord*>(record);
            for (int32_t i = 0; instance->textures != nullptr && i < instance->base->textureCount; ++i) {
                if (instance->textures[i].overridden) {
                    RestoreTextureEntry(instance->textures[i]);
                }
            }
        },
        nullptr);
    return 0;
}

// How a hardware image is cut into power-of-two textures, and which parts of them a graph
// shows. Pure arithmetic over the device limits, so it is tested without a device.
#include "quarn/graphics/d3d9/device_graph.h"

#include "quarn/core/core.h"
#include "quarn/graphics/graphics.h"

namespace {

constexpr int32_t kSmallestTexture = 8;

int32_t LargestTexture(const TextureSizeLimits* limits)
{
    const int32_t max = limits->libraryLimit > 0 ? limits->libraryLimit : limits->deviceMax;
    return max < kSmallestTexture ? kSmallestTexture : max;
}

int32_t Overlap(int32_t a, int32_t aLength, int32_t b, int32_t bLength)
{
    const int64_t start = a > b ? a : b;
    const int64_t endA = int64_t{a} + aLength;
    const int64_t endB = int64_t{b} + bLength;
    const int64_t end = endA < endB ? endA : endB;
    return end > start ? static_cast<int32_t>(end - start) : 0;
}

}  // namespace

int32_t SplitIntoTextureSizes(int32_t length, int32_t single, const TextureSizeLimits* limits, int32_t* sizes)
{
    if (length <= kSmallestTexture) {
        sizes[0] = kSmallestTexture;
        return 1;
    }
    const int32_t max = LargestTexture(limits);
    int32_t s = max;
    while (s > kSmallestTexture && s > length) {
        s /= 2;
    }
    const bool oneTexture = single || (limits->libraryLimit <= 0 && length < limits->screenWidth);
    if (oneTexture) {
        if (s >= length) {
            sizes[0] = s;
            return 1;
        }
        if (int64_t{s} * 2 <= max) {
            sizes[0] = s * 2;
            return 1;
        }
    }
    int32_t count = 0;
    int32_t rest = length;
    for (;;) {
        if (count == kMaxTextureSizes) {
            return -1;
        }
        sizes[count++] = s;
        rest -= s;
        if (rest <= 0) {
            break;
        }
        if (rest > s * 3 / 4 && s < max) {
            sizes[count - 1] = s * 2;
            break;
        }
        while (s > kSmallestTexture && s > rest) {
            s /= 2;
        }
    }
    if (count >= 2 && sizes[count - 1] == sizes[count - 2] && int64_t{sizes[count - 1]} * 2 <= max) {
        sizes[count - 2] *= 2;
        --count;
    }
    return count;
}

int32_t GetTextureFormatIndex(const TextureFormatRequest* request)
{
    if (request->compression >= 1 && request->compression <= 5) {
        return 5 + request->compression;
    }
    const int32_t wide = request->colorBits == 32 ? 1 : 0;
    if (request->renderTarget) {
        if (request->alphaChannel || request->alphaTest) {
            return 13;
        }
        return 11 + wide;
    }
    if (request->alphaChannel) {
        return 2 + wide;
    }
    if (request->alphaTest) {
        return 4 + wide;
    }
    return wide;
}

int32_t LayoutTextureTiles(int32_t width, int32_t height, int32_t single, int32_t squareOnly,
                           const TextureSizeLimits* limits, TextureTile* tiles, int32_t capacity)
{
    int32_t columns[kMaxTextureSizes];
    int32_t rows[kMaxTextureSizes];
    const int32_t columnCount = SplitIntoTextureSizes(width, single, limits, columns);
    const int32_t rowCount = SplitIntoTextureSizes(height, single, limits, rows);
    if (columnCount < 0 || rowCount < 0) {
        return -1;
    }
    int32_t count = 0;
    int32_t y = 0;
    for (int32_t r = 0; r < rowCount; ++r) {
        int32_t x = 0;
        for (int32_t c = 0; c < columnCount; ++c) {
            const int32_t w = columns[c];
            const int32_t h = rows[r];
            // A device that takes only square textures gets squares of the shorter side.
            const int32_t side = w < h ? w : h;
            const int32_t stepsX = squareOnly ? w / side : 1;
            const int32_t stepsY = squareOnly ? h / side : 1;
            const int32_t tileW = squareOnly ? side : w;
            const int32_t tileH = squareOnly ? side : h;
            for (int32_t sy = 0; sy < stepsY; ++sy) {
                for (int32_t sx = 0; sx < stepsX; ++sx) {
                    if (count == capacity) {
                        return -1;
                    }
                    if (tiles != nullptr) {
                        TextureTile& t = tiles[count];
                        t = TextureTile{};
                        t.x = x + sx * tileW;
                        t.y = y + sy * tileH;
                        const int32_t restW = width - t.x;
                        const int32_t restH = height - t.y;
                        t.usedWidth = restW < 0 ? 0 : (restW < tileW ? restW : tileW);
                        t.usedHeight = restH < 0 ? 0 : (restH < tileH ? restH : tileH);
                        t.textureWidth = tileW;
                        t.textureHeight = tileH;
                    }
                    ++count;
                }
            }
            x += w;
        }
        y += rows[r];
    }
    return count;
}

int32_t BuildTexturePieces(const TextureTile* tiles, int32_t tileCount, int32_t x, int32_t y, int32_t width,
                           int32_t height, TexturePiece* pieces)
{
    int32_t count = 0;
    for (int32_t i = 0; i < tileCount; ++i) {
        const TextureTile& t = tiles[i];
        const int32_t w = Overlap(x, width, t.x, t.usedWidth);
        const int32_t h = Overlap(y, height, t.y, t.usedHeight);
        if (w == 0 || h == 0) {
            continue;
        }
        if (pieces != nullptr) {
            TexturePiece& p = pieces[count];
            p = TexturePiece{};
            p.tile = const_cast<TextureTile*>(&t);
            p.destX = t.x > x ? t.x - x : 0;
            p.srcX = t.x > x ? 0 : x - t.x;
            p.destY = t.y > y ? t.y - y : 0;
            p.srcY = t.y > y ? 0 : y - t.y;
            p.width = w;
            p.height = h;
            const float tw = static_cast<float>(t.textureWidth);
            const float th = static_cast<float>(t.textureHeight);
            const float slope = static_cast<float>(height) / static_cast<float>(width);
            for (int32_t k = 0; k < 4; ++k) {
                const int32_t right = k & 1;
                const int32_t bottom = k >> 1;
                TextureCorner& c = p.corners[k];
                c.x = static_cast<float>(p.destX + right * w);
                c.y = static_cast<float>(p.destY + bottom * h);
                c.u = static_cast<float>(p.srcX + right * w) / tw;
                c.v = static_cast<float>(p.srcY + bottom * h) / th;
                p.diagonal[k] = static_cast<float>(height) - c.x * slope >= c.y ? 1 : 0;
            }
        }
        ++count;
    }
    return count;
}

void DeviceDescribeGraphImage(GraphRecord*, GraphDrawInfo* info)
{
    info->ownImage = nullptr;
    info->sharedImage = nullptr;
    info->hardwareTexture = 1;
}

int32_t DeviceViewGraphImage(GraphRecord* graph)
{
    const DeviceImage& image = DeviceImageOf(graph->image);
    const int32_t count = BuildTexturePieces(image.tiles, image.tileCount, graph->x, graph->y, graph->width,
                                             graph->height, nullptr);
    if (count == 0) {
        return AppendLog(L"テクスチャ描画情報の作成に失敗しました\n");
    }
    // The view and its pieces in one block, the pieces after the view.
    const size_t bytes = sizeof(DeviceView) + sizeof(TexturePiece) * static_cast<size_t>(count);
    auto* view = static_cast<DeviceView*>(AllocTrackedMemoryZeroed(static_cast<uint32_t>(bytes), "", 0));
    if (view == nullptr) {
        return AppendLog(L"画像描画情報格納用メモリの確保に失敗しました\n");
    }
    view->pieces = reinterpret_cast<TexturePiece*>(view + 1);
    view->pieceCount = count;
    BuildTexturePieces(image.tiles, image.tileCount, graph->x, graph->y, graph->width, graph->height, view->pieces);
    DeviceReleaseGraphView(graph);
    graph->held.device = view;
    return 0;
}

void DeviceReleaseGraphView(GraphRecord* graph)
{
    FreeTrackedMemory(graph->held.device);
    graph->held.device = nullptr;
}

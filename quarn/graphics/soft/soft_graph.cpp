// The software back end's graph images: one MEMIMG per image, a view of it per graph.
#include "quarn/core/core.h"
#include "quarn/graphics/graph.h"
#include "quarn/graphics/graphics.h"
#include "quarn/graphics/render_backend.h"
#include "quarn/graphics/soft/soft_graph.h"

namespace {

// An image's shared record and the software one, allocated and freed as one block.
struct SoftImageBlock {
    GraphImage shared;
    SoftImage own;
};

}  // namespace

int32_t SoftMakeGraphImage(GraphRecord* graph, int32_t width, int32_t height, int32_t /*levels*/, int32_t alpha,
                           int32_t paletted, int32_t /*compression*/)
{
    TextureFormatRequest request{};
    request.alphaChannel = static_cast<uint8_t>(alpha);
    const int32_t screenBits = GetConfiguredColorBits();
    request.colorBits = static_cast<uint8_t>(g_newGraphSettings.colorBits != 0 ? g_newGraphSettings.colorBits
                                                                               : screenBits);
    request.renderTarget = 1;  // every software graph can be drawn into
    request.paletted = static_cast<uint8_t>(paletted);

    auto* block = static_cast<SoftImageBlock*>(AllocTrackedMemoryZeroed(sizeof(SoftImageBlock), "", 0));
    if (block == nullptr) {
        AppendLog(L"グラフィックのオリジナル画像データ保存用メモリの確保に失敗しました\n");
        return -1;
    }
    GraphImage* image = &block->shared;
    SoftImage* own = &block->own;
    image->held.soft = own;
    const bool wide = request.colorBits != 16;
    image->refCount = 1;
    image->request = request;
    image->transparentColor = kNewImageTransparentRgb;
    image->width = width;
    image->height = height;
    image->format = (wide ? 17 : 15) + alpha;
    graph->image = image;
    graph->x = 0;
    graph->y = 0;
    graph->width = width;
    graph->height = height;

    if (request.blendImage) {
        if (CreateMemImgWithOptions(&own->memImg, width, height, -1, 0, kMemImgGrey8, 0, 0, 1, nullptr) != 0) {
            AppendLog(L"ブレンド画像用メモリイメージの作成に失敗しました\n");
            return -1;
        }
    } else {
        const int32_t kind = wide ? kMemImgXrgb32 : kMemImgRgb565;
        uint32_t key = 0xFFFF;
        if (!paletted) {
            const uint32_t rgb = image->transparentColor;
            key = EncodePixelColor(GetMemImgColorFormat(kind, alpha, 0), (rgb >> 16) & 0xFF, (rgb >> 8) & 0xFF,
                                   rgb & 0xFF, 255);
        }
        if (CreateMemImgWithOptions(&own->memImg, width, height, -1, key, kind, paletted, alpha, 1, nullptr) != 0) {
            AppendLog(L"メモリイメージの作成に失敗しました\n");
            return -1;
        }
    }
    return 0;
}

int32_t SoftUploadGraphImage(GraphRecord* graph, const BaseImage* image, const BaseImage* alpha, int32_t left,
                             int32_t top, int32_t width, int32_t height, int32_t destX, int32_t destY)
{
    return LoadBaseImageIntoMemImg(image, alpha, SoftViewOf(graph), left, top, width, height, destX, destY, 0);
}

void SoftReleaseGraphImage(GraphImage* image)
{
    SoftImage* own = image->held.soft;
    if (own->renderTargetExtra != nullptr) {
        ReleaseMemImgRef(own->renderTargetExtra);
        FreeTrackedMemory(own->renderTargetExtra);
        own->renderTargetExtra = nullptr;
    }
    ReleaseMemImgRef(&own->memImg);
}

void SoftDescribeGraphImage(GraphRecord* graph, GraphDrawInfo* info)
{
    info->ownImage = SoftViewOf(graph);
    info->sharedImage = &graph->image->held.soft->memImg;
    info->hardwareTexture = 0;
}

int32_t SoftViewGraphImage(GraphRecord* graph)
{
    SoftView* own = graph->held.soft;
    if (own == nullptr) {
        own = static_cast<SoftView*>(AllocTrackedMemoryZeroed(sizeof(SoftView), "", 0));
        if (own == nullptr) {
            return AppendLog(L"画像描画情報格納用メモリの確保に失敗しました\n");
        }
        graph->held.soft = own;
    }
    ReleaseMemImgRef(&own->view);
    MakeMemImgView(&own->view, &graph->image->held.soft->memImg, graph->x, graph->y, graph->width, graph->height);
    return TestMemImgValid(&own->view) ? 0 : -1;
}

void SoftReleaseGraphView(GraphRecord* graph)
{
    SoftView* own = graph->held.soft;
    if (own == nullptr) {
        return;
    }
    // Software drawing must not go on into the freed view of a destroyed draw target.
    if (g_drawSettings.softDrawTarget == &own->view) {
        g_drawSettings.softDrawTarget = nullptr;
    }
    ReleaseMemImgRef(&own->view);
    FreeTrackedMemory(own);
    graph->held.soft = nullptr;
}

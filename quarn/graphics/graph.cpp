// Graph handles, their records and the reference-counted images they share.
#include "quarn/graphics/graph.h"

#include <cstring>
#include <cwchar>

#include "quarn/core/core.h"
#include "quarn/graphics/graph_platform.h"
#include "quarn/graphics/graphics.h"
#include "quarn/graphics/render_backend.h"
#include "quarn/sound/movie.h"

NewGraphSettings g_newGraphSettings{0, 0};

namespace {

FixedHandleTable<kGraphCapacity> s_graphTable{kHandleTypeGraph, kSlotHighWaterFirst};

// Longest full path a kept file name may have, in UTF-16 units with the terminator.
constexpr int32_t kPathUnits = 2048;

void* AllocZeroed(size_t bytes) { return AllocTrackedMemoryZeroed(static_cast<uint32_t>(bytes), "", 0); }

void ReleaseFileName(GraphRecord* graph)
{
    GraphFileName* name = graph->fileName;
    graph->fileName = nullptr;
    if (name != nullptr && --name->count == 0) {
        FreeTrackedMemory(name);
    }
}

// Drops one reference; the last one releases the pixels.
void ReleaseGraphImage(GraphImage* image)
{
    if (image == nullptr || --image->refCount > 0) {
        return;
    }
    ImageRenderBackend(image)->releaseImage(image);
    FreeTrackedMemory(image);
}

// A plain copy of a block-compressed picture in out (the caller's picture stays as it came):
// 0, or -1 with a log line when its blocks cannot be expanded.
int32_t ExpandPictureCopy(const BaseImage* image, BaseImage* out)
{
    const int64_t bytes = CompressedLevelBytes(image->format.compression, image->width, image->height);
    *out = *image;
    out->pixels = nullptr;
    // Only the top level is copied; the picture has to hold it whole.
    if (bytes < 0 || bytes > INT32_MAX || TrackedMemorySize(image->pixels) < bytes) {
        return AppendLog(L"圧縮された画像の展開に失敗しました\n");
    }
    // The expansion frees the block memory it replaces, so it works on a copy of the blocks.
    out->pixels = static_cast<uint8_t*>(AllocTrackedMemory(static_cast<uint32_t>(bytes > 0 ? bytes : 1), "", 0));
    if (out->pixels == nullptr) {
        return AppendLog(L"圧縮された画像の展開に失敗しました\n");
    }
    if (bytes > 0) {
        std::memcpy(out->pixels, image->pixels, static_cast<size_t>(bytes));
    }
    if (ExpandCompressedBaseImage(out) != 0) {
        FreeTrackedMemory(out->pixels);
        out->pixels = nullptr;
        return AppendLog(L"圧縮された画像の展開に失敗しました\n");
    }
    return 0;
}

// Writes the source rectangle of the picture into the graph at (destX, destY) of the graph.
int32_t TransferPlainPictureIntoGraph(GraphRecord* graph, const BaseImage* image, const BaseImage* alpha,
                                      const PixelRect* source, int32_t destX, int32_t destY)
{
    CurrentRenderBackend()->flush();
    if (source->right <= source->left || source->bottom <= source->top) {
        return 0;
    }
    if (image == nullptr || image->pixels == nullptr) {
        return -1;
    }
    if (alpha != nullptr &&
        (alpha->pixels == nullptr || alpha->width != image->width || alpha->height != image->height)) {
        return -1;
    }
    // Keep both rectangles inside their images: the picture may be smaller than the graph.
    const int64_t shiftX = int64_t{destX} - source->left;
    const int64_t shiftY = int64_t{destY} - source->top;
    int64_t left = source->left > 0 ? source->left : 0;
    int64_t top = source->top > 0 ? source->top : 0;
    int64_t right = source->right < image->width ? source->right : image->width;
    int64_t bottom = source->bottom < image->height ? source->bottom : image->height;
    if (left + shiftX < 0) left = -shiftX;
    if (top + shiftY < 0) top = -shiftY;
    if (right + shiftX > graph->width) right = graph->width - shiftX;
    if (bottom + shiftY > graph->height) bottom = graph->height - shiftY;
    if (right <= left || bottom <= top) {
        return 0;
    }
    return CurrentRenderBackend()->uploadImage(graph, image, alpha, static_cast<int32_t>(left),
                                               static_cast<int32_t>(top), static_cast<int32_t>(right - left),
                                               static_cast<int32_t>(bottom - top), static_cast<int32_t>(left + shiftX),
                                               static_cast<int32_t>(top + shiftY));
}

// As above; a block-compressed picture or alpha picture is expanded first (no image this
// renderer makes holds blocks).
int32_t TransferPictureIntoGraph(GraphRecord* graph, const BaseImage* image, const BaseImage* alpha,
                                 const PixelRect* source, int32_t destX, int32_t destY)
{
    const bool packed = image != nullptr && image->pixels != nullptr && image->format.compression != 0;
    const bool packedAlpha = alpha != nullptr && alpha->pixels != nullptr && alpha->format.compression != 0;
    if (!packed && !packedAlpha) {
        return TransferPlainPictureIntoGraph(graph, image, alpha, source, destX, destY);
    }
    BaseImage plain{};
    BaseImage plainAlpha{};
    int32_t result = 0;
    if (packed && ExpandPictureCopy(image, &plain) != 0) {
        result = -1;
    }
    if (result == 0 && packedAlpha && ExpandPictureCopy(alpha, &plainAlpha) != 0) {
        result = -1;
    }
    if (result == 0) {
        result = TransferPlainPictureIntoGraph(graph, packed ? &plain : image, packedAlpha ? &plainAlpha : alpha,
                                               source, destX, destY);
    }
    DiscardBaseImage(&plain);
    DiscardBaseImage(&plainAlpha);
    return result;
}

// Both images must have the graph's size, or no alpha image.
bool MatchesGraphSize(const GraphRecord* graph, const BaseImage* image, const BaseImage* alpha)
{
    if (image->width != graph->width || image->height != graph->height) {
        return false;
    }
    return alpha == nullptr || (alpha->width == graph->width && alpha->height == graph->height);
}

void MirrorPair(BaseImage* image, BaseImage* alpha)
{
    MirrorBaseImage(image);
    if (alpha != nullptr) {
        MirrorBaseImage(alpha);
    }
}

}  // namespace

int32_t DescribeGraph(int32_t handle, GraphDrawInfo* out)
{
    GraphRecord* graph = FindGraphRecord(handle);
    if (graph == nullptr || graph->image == nullptr) {
        return -1;
    }
    *out = GraphDrawInfo{};
    out->width = graph->width;
    out->height = graph->height;
    out->renderTarget = graph->image->request.renderTarget;
    ImageRenderBackend(graph->image)->describeImage(graph, out);
    return 0;
}

int32_t ResetGraphTable()
{
    HandleTable* table = s_graphTable.get();
    for (int32_t slot = 0; slot < table->capacity && table->liveCount > 0; ++slot) {
        const int32_t handle = HandleOfSlot(table, slot);
        if (handle >= 0) {
            DestroyGraph(handle);
        }
    }
    table->liveCount = 0;
    table->highWater = 0;
    return 0;
}

namespace {

}  // namespace

HandleTable* GraphTable() { return s_graphTable.get(); }

GraphRecord* FindGraphRecord(int32_t handle) { return FindHandleRecordAs<GraphRecord>(s_graphTable.get(), handle); }

int32_t AllocateGraphHandle()
{
    HandleTable* table = s_graphTable.get();
    if (table->liveCount >= table->createLimit) {
        return FailFatally(L"グラフィックの数が許容量を越えました終了します");
    }
    auto* graph = static_cast<GraphRecord*>(AllocZeroed(sizeof(GraphRecord)));
    if (graph == nullptr) {
        return FailFatally(L"メモリの確保に失敗しました");
    }
    const int32_t handle = AddHandleRecord(table, graph);
    if (handle < 0) {
        FreeTrackedMemory(graph);
        return FailFatally(L"グラフィックの数が許容量を越えました終了します");
    }
    graph->check = HandleCheckOf(handle);
    graph->handle = handle;
    graph->movie = -1;
    return handle;
}

int32_t SetUpGraphImage(int32_t graphHandle, int32_t mipLevels, int32_t width, int32_t height, int32_t alpha,
                        int32_t paletted, int32_t compression)
{
    GraphRecord* graph = FindGraphRecord(graphHandle);
    if (graph == nullptr) {
        return -1;
    }
    if (width < 1 || height < 1 || graph->image != nullptr) {
        DestroyGraph(graphHandle);
        return -1;
    }
    const int32_t levels = mipLevels == -1 ? 1 : mipLevels;
    if (CurrentRenderBackend()->makeImage(graph, width, height, levels, alpha ? 1 : 0, paletted ? 1 : 0, compression) !=
        0) {
        DestroyGraph(graphHandle);
        return -1;
    }
    graph->image->backend = CurrentRenderBackend();
    if (BuildGraphDrawInfo(graphHandle) != 0) {
        DestroyGraph(graphHandle);
        return -1;
    }
    return 0;
}

int32_t BuildGraphDrawInfo(int32_t graphHandle)
{
    GraphRecord* graph = FindGraphRecord(graphHandle);
    if (graph == nullptr || graph->image == nullptr) {
        return -1;
    }
    return ImageRenderBackend(graph->image)->viewImage(graph);
}

int CreateBlankGraph(int width, int height)
{
    WaitForActiveWindow();
    const int32_t handle = AllocateGraphHandle();
    if (handle < 0) {
        return -1;
    }
    if (SetUpGraphImage(handle, -1, width, height, g_newGraphSettings.alphaChannel, 0, 0) != 0) {
        return -1;
    }
    return handle;
}

int32_t MakeGraphForBaseImage(const BaseImage* image, const BaseImage* alpha, int32_t /*flag*/)
{
    if (!g_screenSettings.started || image == nullptr) {
        return -1;
    }
    WaitForActiveWindow();
    if (alpha != nullptr && (alpha->width != image->width || alpha->height != image->height)) {
        return -1;
    }
    const ColorFormat& format = image->format;
    const int32_t hasAlpha = format.alphaWidth != 0 || alpha != nullptr ? 1 : 0;
    const int32_t paletted = format.bitDepth == 8 && format.alphaWidth == 0 && alpha == nullptr ? 1 : 0;
    const int32_t handle = AllocateGraphHandle();
    if (handle < 0) {
        return -1;
    }
    const int32_t levels = image->mipmapCount != 0 ? image->mipmapCount : -1;
    if (SetUpGraphImage(handle, levels, image->width, image->height, hasAlpha, paletted,
                        static_cast<int32_t>(format.compression)) != 0) {
        return -1;
    }
    return handle;
}

int32_t ConvertBaseImageToGraph(BaseImage* image, BaseImage* alpha, int32_t flag, int32_t mirrorA, int32_t mirrorB)
{
    if (image == nullptr) {
        return -1;
    }
    RecomputeUnusedBits(&image->format);
    if (alpha != nullptr) {
        RecomputeUnusedBits(&alpha->format);
    }
    // Mirrored for the transfer only: the caller's images end as they came.
    const bool mirror = mirrorA == 1 && mirrorB == 1;
    if (mirror) {
        MirrorPair(image, alpha);
    }
    int32_t handle = MakeGraphForBaseImage(image, alpha, flag);
    if (handle >= 0 && TransferImageToGraph(image, nullptr, alpha, 0, 0, handle, 0) != 0) {
        DestroyGraph(handle);
        handle = -1;
    }
    if (mirror) {
        MirrorPair(image, alpha);
    }
    return handle;
}

int32_t RefillGraphFromBaseImage(BaseImage* image, BaseImage* alpha, int32_t graphHandle, int32_t /*flag*/,
                                 int32_t mirrorA, int32_t mirrorB)
{
    GraphRecord* graph = FindGraphRecord(graphHandle);
    if (graph == nullptr || image == nullptr || !MatchesGraphSize(graph, image, alpha)) {
        return -1;
    }
    const bool mirror = mirrorA == 1 && mirrorB == 1;
    if (mirror) {
        MirrorPair(image, alpha);
    }
    const int32_t result = TransferImageToGraph(image, nullptr, alpha, 0, 0, graphHandle, 0);
    if (mirror) {
        MirrorPair(image, alpha);
    }
    return result;
}

int32_t RefillGraphFromImageData(const void* data, int32_t size, int32_t graphHandle, const void* alphaData,
                                 int32_t alphaSize, int32_t flag, int32_t mirror)
{
    if (FindGraphRecord(graphHandle) == nullptr) {
        return -1;
    }
    BaseImage image{};
    BaseImage alpha{};
    const int32_t decoded = DecodeImageWithAlpha(nullptr, data, size, 1, alphaData, alphaSize,
                                                 alphaData != nullptr ? 1 : 2, &image, &alpha, mirror == 1 ? 1 : 0);
    if (decoded < 0) {
        return -1;
    }
    const int32_t result = RefillGraphFromBaseImage(&image, decoded == 0 ? &alpha : nullptr, graphHandle, flag, 0, 0);
    DiscardBaseImage(&image);
    if (decoded == 0) {
        DiscardBaseImage(&alpha);
    }
    return result;
}

int32_t TransferImageToGraph(const BaseImage* image, const wchar_t* fileName, const BaseImage* alpha, int32_t offsetX,
                             int32_t offsetY, int32_t graphHandle, int32_t restoreFlag)
{
    GraphRecord* graph = FindGraphRecord(graphHandle);
    if (!g_screenSettings.started || graph == nullptr || graph->image == nullptr) {
        return -1;
    }
    if (KeepGraphFileName(graphHandle, fileName, -1) != 0) {
        return -1;
    }
    graph->sourceX = offsetX;
    graph->sourceY = offsetY;
    graph->restoreFlag = restoreFlag;
    const PixelRect source{offsetX, offsetY, SaturateToInt32(int64_t{offsetX} + graph->width),
                           SaturateToInt32(int64_t{offsetY} + graph->height)};
    return TransferPictureIntoGraph(graph, image, alpha, &source, 0, 0);
}

int32_t TransferImageRectToGraph(const BaseImage* image, const BaseImage* alpha, const PixelRect* source, int32_t destX,
                                 int32_t destY, int32_t graphHandle, int32_t flag)
{
    GraphRecord* graph = FindGraphRecord(graphHandle);
    if (!g_screenSettings.started || graph == nullptr || graph->image == nullptr || source == nullptr) {
        return -1;
    }
    KeepGraphFileName(graphHandle, nullptr, -1);
    graph->sourceX = SaturateToInt32(int64_t{source->left} - destX);
    graph->sourceY = SaturateToInt32(int64_t{source->top} - destY);
    graph->restoreFlag = flag;
    return TransferPictureIntoGraph(graph, image, alpha, source, destX, destY);
}

int CreateSubGraph(int x, int y, int width, int height, int source)
{
    if (g_drawSettings.drawingDisabled) {
        return 0;
    }
    const GraphRecord* from = FindGraphRecord(source);
    if (from == nullptr || x < 0 || x >= from->width || y < 0 || y >= from->height) {
        return -1;
    }
    // An empty rectangle would make a graph nothing can be drawn from.
    if (width < 1 || height < 1) {
        return -1;
    }
    if (width > from->width - x) width = from->width - x;
    if (height > from->height - y) height = from->height - y;
    const int32_t handle = AllocateGraphHandle();
    if (handle < 0) {
        return -1;
    }
    if (ShareGraphImage(handle, source, x, y, width, height) != 0) {
        return -1;
    }
    return handle;
}

int32_t ShareGraphImage(int32_t graphHandle, int32_t source, int32_t x, int32_t y, int32_t width, int32_t height)
{
    GraphRecord* graph = FindGraphRecord(graphHandle);
    const GraphRecord* from = FindGraphRecord(source);
    if (graph == nullptr) {
        return -1;
    }
    if (from == nullptr || from->image == nullptr || graph->image != nullptr) {
        DestroyGraph(graphHandle);
        return -1;
    }
    graph->image = from->image;
    ++graph->image->refCount;
    graph->fileName = from->fileName;
    if (graph->fileName != nullptr) {
        ++graph->fileName->count;
    }
    graph->sourceX = SaturateToInt32(int64_t{from->sourceX} + x);
    graph->sourceY = SaturateToInt32(int64_t{from->sourceY} + y);
    graph->restoreFlag = from->restoreFlag;
    graph->x = from->x + x;
    graph->y = from->y + y;
    graph->width = width;
    graph->height = height;
    if (BuildGraphDrawInfo(graphHandle) != 0) {
        DestroyGraph(graphHandle);
        return -1;
    }
    return 0;
}

int32_t KeepGraphFileName(int32_t graphHandle, const wchar_t* path, int32_t source)
{
    GraphRecord* graph = FindGraphRecord(graphHandle);
    if (graph == nullptr) {
        return -1;
    }
    // Refuse a bad source before anything changes.
    const GraphRecord* from = nullptr;
    if (path == nullptr && source != -1) {
        from = FindGraphRecord(source);
        if (from == nullptr) {
            return -1;
        }
    }
    if (path == nullptr) {
        GraphFileName* shared = from != nullptr ? from->fileName : nullptr;
        if (shared != nullptr) {
            ++shared->count;  // before the release: the source may be this graph
        }
        ReleaseFileName(graph);
        graph->fileName = shared;
        return 0;
    }
    wchar_t full[kPathUnits];
    const int32_t length = GraphResolveFullPath(path, full, kPathUnits);
    ReleaseFileName(graph);
    if (length < 0) {
        return AppendLog(L"転送する画像ファイルのファイル名を保存するメモリ領域の確保に失敗しました\n");
    }
    auto* name = static_cast<GraphFileName*>(
        AllocZeroed(sizeof(GraphFileName) + sizeof(wchar_t) * static_cast<size_t>(length)));
    if (name == nullptr) {
        return AppendLog(L"転送する画像ファイルのファイル名を保存するメモリ領域の確保に失敗しました\n");
    }
    name->count = 1;
    std::wmemcpy(name->path, full, static_cast<size_t>(length) + 1);
    graph->fileName = name;
    return 0;
}

int DestroyGraph(int graphHandle)
{
    GraphRecord* graph = FindGraphRecord(graphHandle);
    if (graph == nullptr) {
        return -1;
    }
    if (graph->movie != -1) {
        DestroyMovie(graph->movie);
    }
    GraphImage* image = graph->image;
    if (image != nullptr) {
        ImageRenderBackend(image)->releaseView(graph);
    }
    graph->image = nullptr;
    ReleaseGraphImage(image);
    for (int32_t i = 0; i < 2; ++i) {
        FreeTrackedMemory(graph->extraBuffer[i]);
        graph->extraBuffer[i] = nullptr;
    }
    ReleaseFileName(graph);
    RemoveHandleRecord(s_graphTable.get(), graphHandle);
    if (graph->lostFlag != nullptr) {
        *graph->lostFlag = 1;
    }
    FreeTrackedMemory(graph);
    return 0;
}

int32_t DestroyAllGraphs()
{
    if (!g_screenSettings.started) {
        return 0;
    }
    HandleTable* table = s_graphTable.get();
    for (int32_t slot = 0; slot < table->highWater; ++slot) {
        const int32_t handle = HandleOfSlot(table, slot);
        if (handle >= 0) {
            DestroyGraph(handle);
        }
    }
    return 0;
}

int32_t TestGraphHandle(int32_t handle) { return FindGraphRecord(handle) != nullptr ? 1 : 0; }

int QueryGraphSize(int handle, int* width, int* height)
{
    int32_t w = 0;
    int32_t h = 0;
    if (handle == kDrawTargetBackScreen || handle == kDrawTargetFrontScreen) {
        GetConfiguredScreenSize(&w, &h);
    } else {
        const GraphRecord* graph = FindGraphRecord(handle);
        if (graph == nullptr) {
            return -1;
        }
        w = graph->width;
        h = graph->height;
    }
    if (width != nullptr) *width = w;
    if (height != nullptr) *height = h;
    return 0;
}

int32_t AttachGraphLostFlag(int32_t handle, int32_t* flag)
{
    GraphRecord* graph = FindGraphRecord(handle);
    if (graph == nullptr) {
        return -1;
    }
    graph->lostFlag = flag;
    if (flag != nullptr) {
        *flag = 0;
    }
    return 0;
}

int32_t InstallGraphRestoreHandler(int32_t (*routine)())
{
    g_drawSettings.graphRestoreRoutine = routine != nullptr ? routine : RestoreGraphsFromFiles;
    return 0;
}

int32_t HasGraphRestoreHandler() { return g_drawSettings.graphRestoreRoutine != nullptr ? 1 : 0; }

int32_t RunGraphRestore()
{
    int32_t (*routine)() = g_drawSettings.graphRestoreRoutine;
    (routine != nullptr ? routine : RestoreGraphsFromFiles)();
    return 0;
}

int32_t RestoreGraphsFromFiles()
{
    AppendLog(L"グラフィックを復帰します\n");
    HandleTable* table = s_graphTable.get();
    BaseImage image{};
    BaseImage alpha{};
    int32_t loaded = -1;  // -1 none, 0 with alpha, 1 without
    const GraphFileName* loadedName = nullptr;
    int32_t loadedFlag = 0;
    auto discard = [&]() {
        if (loaded >= 0) {
            DiscardBaseImage(&image);
            if (loaded == 0) {
                DiscardBaseImage(&alpha);
            }
        }
        loaded = -1;
        loadedName = nullptr;
    };
    for (int32_t slot = 0; slot < table->highWater; ++slot) {
        const int32_t handle = HandleOfSlot(table, slot);
        GraphRecord* graph = FindGraphRecord(handle);
        if (graph == nullptr || graph->fileName == nullptr || graph->image == nullptr) {
            continue;
        }
        const bool same = loadedName != nullptr && loadedFlag == graph->restoreFlag &&
                          (loadedName == graph->fileName || std::wcscmp(loadedName->path, graph->fileName->path) == 0);
        if (!same) {
            discard();
            image = BaseImage{};
            alpha = BaseImage{};
            loaded = DecodeImageWithAlpha(graph->fileName->path, nullptr, 0, 0, nullptr, 0, 0, &image, &alpha, 0);
            if (loaded < 0) {
                AppendLogFormat(L"ファイル:%ls がロードできませんでした", graph->fileName->path);
                continue;
            }
            loadedName = graph->fileName;
            loadedFlag = graph->restoreFlag;
        }
        const PixelRect source{graph->sourceX, graph->sourceY, SaturateToInt32(int64_t{graph->sourceX} + graph->width),
                               SaturateToInt32(int64_t{graph->sourceY} + graph->height)};
        TransferPictureIntoGraph(graph, &image, loaded == 0 ? &alpha : nullptr, &source, 0, 0);
    }
    discard();
    return 0;
}

int SetNewGraphColorBits(int bits)
{
    g_newGraphSettings.colorBits = bits;
    return 0;
}
int32_t GetNewGraphColorBits() { return g_newGraphSettings.colorBits; }
int32_t SetNewGraphAlphaTestFlag(int32_t flag)
{
    g_drawSettings.newGraphAlphaTest = flag;
    return 0;
}
int32_t GetNewGraphAlphaTestFlag() { return g_drawSettings.newGraphAlphaTest; }
int SetNewGraphAlphaChannelFlag(int flag)
{
    g_newGraphSettings.alphaChannel = flag;
    return 0;
}
int32_t GetNewGraphAlphaChannelFlag() { return g_newGraphSettings.alphaChannel; }

int32_t TestBlendGraphSize(const GraphRecord* graph)
{
    const GraphRecord* blend = FindGraphRecord(g_drawSettings.blendGraph);
    if (blend == nullptr || graph == nullptr) {
        return -1;
    }
    return blend->width < graph->width || blend->height < graph->height ? 1 : 0;
}

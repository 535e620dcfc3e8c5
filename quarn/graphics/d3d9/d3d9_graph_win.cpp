// Graph images on the Direct3D 9 device: the power-of-two tiles and their textures, the
// system-memory twins pictures are written through, the upload, the release before a device
// restart and the re-creation after it, colour fills and copies of a draw-target area.
#include <windows.h>

#include <d3d9.h>

#include <cstdint>
#include <cstring>

#include "quarn/graphics/d3d9/device_graph.h"
#include "quarn/graphics/d3d9/device_state.h"
#include "quarn/graphics/graph.h"
#include "quarn/graphics/graphics_win.h"
#include "quarn/graphics/render_backend.h"

namespace {

// An image's shared record and the device one, allocated as one block with the tiles after it.
struct DeviceImageBlock {
    GraphImage shared;
    DeviceImage own;
};

void ReleaseTileObjects(TextureTile* tile)
{
    ReleaseObject(tile->surface);
    ReleaseObject(tile->texture);
    ReleaseObject(tile->twin);
    ReleaseObject(tile->renderTargetExtra);
}

D3DFORMAT FormatOf(const GraphImage* image) { return static_cast<D3DFORMAT>(g_textureFormats[image->format & 15]); }

// The texture pictures are written to: the twin when there is one.
IDirect3DTexture9* WritableTexture(const TextureTile& tile) { return tile.twin != nullptr ? tile.twin : tile.texture; }

// Zeroes every level of a fresh plain texture, so no undefined texel is ever sampled.
void ClearTile(const GraphImage* image, const TextureTile& tile)
{
    IDirect3DTexture9* texture = WritableTexture(tile);
    const ColorFormat* layout = GetDisplayFormatColorFormat(FormatOf(image));
    const int32_t bytes = layout != nullptr ? layout->bytesPerPixel : 4;
    const DWORD levels = texture->GetLevelCount();
    for (DWORD level = 0; level < levels; ++level) {
        D3DSURFACE_DESC desc{};
        D3DLOCKED_RECT locked{};
        if (FAILED(texture->GetLevelDesc(level, &desc)) || FAILED(texture->LockRect(level, &locked, nullptr, 0))) {
            continue;
        }
        const size_t row = static_cast<size_t>(desc.Width) * static_cast<size_t>(bytes);
        for (UINT y = 0; y < desc.Height; ++y) {
            std::memset(static_cast<uint8_t*>(locked.pBits) + static_cast<size_t>(y) * locked.Pitch, 0, row);
        }
        texture->UnlockRect(level);
    }
    if (tile.twin != nullptr) {
        g_graphicsDevice.device->UpdateTexture(tile.twin, tile.texture);
    }
}

// The bytes every level of a tile's texture takes in the format (DXT: 4 x 4 blocks).
int64_t TileTextureBytes(const TextureTile& tile, D3DFORMAT format, int32_t levels)
{
    // The block-compression kind 1 to 5 of DXT1 to DXT5; 0 for the other formats.
    const D3DFORMAT dxt[5] = {D3DFMT_DXT1, D3DFMT_DXT2, D3DFMT_DXT3, D3DFMT_DXT4, D3DFMT_DXT5};
    uint32_t kind = 0;
    for (uint32_t i = 0; i < 5; ++i) {
        kind = format == dxt[i] ? i + 1 : kind;
    }
    const ColorFormat* layout = kind != 0 ? nullptr : GetDisplayFormatColorFormat(format);
    const int64_t texelBytes = layout != nullptr ? layout->bytesPerPixel : 4;
    int64_t bytes = 0;
    for (int32_t level = 0; level < levels; ++level) {
        const int32_t w = tile.textureWidth >> level > 0 ? tile.textureWidth >> level : 1;
        const int32_t h = tile.textureHeight >> level > 0 ? tile.textureHeight >> level : 1;
        bytes += kind != 0 ? CompressedLevelBytes(kind, w, h) : int64_t{w} * h * texelBytes;
    }
    return bytes;
}

// Each graph image once: every graph of the table, its image unless an earlier graph shares it.
template <typename Visit>
void ForEachGraphImage(Visit visit)
{
    HandleTable* table = GraphTable();
    for (int32_t slot = 0; slot < table->highWater; ++slot) {
        const GraphRecord* graph = FindGraphRecord(HandleOfSlot(table, slot));
        if (graph == nullptr || graph->image == nullptr || !graph->image->request.hardware) {
            continue;
        }
        // Only an image shared with sub-graphs can have come up at an earlier slot.
        bool seen = false;
        for (int32_t earlier = 0; earlier < slot && !seen && graph->image->refCount > 1; ++earlier) {
            const GraphRecord* other = FindGraphRecord(HandleOfSlot(table, earlier));
            seen = other != nullptr && other->image == graph->image;
        }
        if (!seen) {
            visit(graph->image);
        }
    }
}

// Writes the source rectangle (left, top, width, height of the picture) into one tile at the
// tile's texel (tx, ty), one more column and row repeated where the area ends at the used
// edge of a larger texture, so that filtering at a tile edge reads defined texels.
int32_t WriteTileRect(GraphImage* image, TextureTile& tile, const BaseImage* picture, const BaseImage* alpha,
                      int32_t left, int32_t top, int32_t width, int32_t height, int32_t tx, int32_t ty, int32_t key)
{
    const ColorFormat* layout = GetDisplayFormatColorFormat(FormatOf(image));
    if (layout == nullptr) {
        return -1;
    }
    const bool extraColumn = tx + width == tile.usedWidth && tile.usedWidth < tile.textureWidth;
    const bool extraRow = ty + height == tile.usedHeight && tile.usedHeight < tile.textureHeight;
    IDirect3DTexture9* texture = WritableTexture(tile);
    const RECT rect{tx, ty, tx + width + (extraColumn ? 1 : 0), ty + height + (extraRow ? 1 : 0)};
    D3DLOCKED_RECT locked{};
    if (FAILED(texture->LockRect(0, &locked, &rect, 0))) {
        return AppendLog(L"テクスチャのロックに失敗しました\n");
    }
    auto* pixels = static_cast<uint8_t*>(locked.pBits);
    const PixelRect source{left, top, left + width, top + height};
    ConvertPixelRect(pixels, locked.Pitch, layout, picture->pixels, picture->pitch, &picture->format,
                     alpha != nullptr ? alpha->pixels : nullptr, alpha != nullptr ? alpha->pitch : 0,
                     alpha != nullptr ? &alpha->format : nullptr, 0, 0, &source, 0, key, image->transparentColor, 0, 0,
                     0, 0, 0);
    const size_t bpp = static_cast<size_t>(layout->bytesPerPixel);
    if (extraColumn) {
        for (int32_t y = 0; y < height; ++y) {
            uint8_t* row = pixels + static_cast<size_t>(y) * locked.Pitch;
            std::memcpy(row + width * bpp, row + (width - 1) * bpp, bpp);
        }
    }
    if (extraRow) {
        const size_t bytes = static_cast<size_t>(width + (extraColumn ? 1 : 0)) * bpp;
        std::memcpy(pixels + static_cast<size_t>(height) * locked.Pitch,
                    pixels + static_cast<size_t>(height - 1) * locked.Pitch, bytes);
    }
    texture->UnlockRect(0);
    // Further levels: each the halved picture of the one above, over the whole tile.
    const DWORD levels = texture->GetLevelCount();
    for (DWORD level = 1; level < levels; ++level) {
        D3DSURFACE_DESC above{};
        D3DLOCKED_RECT from{};
        D3DLOCKED_RECT to{};
        texture->GetLevelDesc(level - 1, &above);
        if (FAILED(texture->LockRect(level - 1, &from, nullptr, D3DLOCK_READONLY))) {
            return AppendLog(L"ミップマップテクスチャのロックに失敗しました\n");
        }
        if (FAILED(texture->LockRect(level, &to, nullptr, 0))) {
            texture->UnlockRect(level - 1);
            return AppendLog(L"ミップマップテクスチャのロックに失敗しました\n");
        }
        HalveImageForMipmap(layout, static_cast<uint8_t*>(to.pBits), to.Pitch, static_cast<const uint8_t*>(from.pBits),
                            from.Pitch, 0, 0, 0, 0, static_cast<int>(above.Width), static_cast<int>(above.Height));
        texture->UnlockRect(level);
        texture->UnlockRect(level - 1);
    }
    return 0;
}

// Writes the picture's rectangle into the graph at (destX, destY) of the graph, piece by piece.
int32_t UploadIntoPieces(GraphRecord* graph, const BaseImage* picture, const BaseImage* alpha, int32_t left,
                         int32_t top, int32_t width, int32_t height, int32_t destX, int32_t destY, int32_t key)
{
    GraphImage* image = graph->image;
    if (g_graphicsDevice.device == nullptr || image == nullptr || !image->request.hardware) {
        return -1;
    }
    if (image->request.compression != 0) {
        return AppendLog(L"DXTフォーマットのテクスチャに標準形式のイメージを転送することはできません\n");
    }
    int32_t result = 0;
    const DeviceView& view = DeviceViewOf(graph);
    for (int32_t p = 0; p < view.pieceCount; ++p) {
        const TexturePiece& piece = view.pieces[p];
        if (piece.tile == nullptr || piece.tile->texture == nullptr) {
            continue;
        }
        // The overlap of the piece and the destination area, in graph pixels.
        const int32_t x0 = destX > piece.destX ? destX : piece.destX;
        const int32_t y0 = destY > piece.destY ? destY : piece.destY;
        const int32_t x1 = destX + width < piece.destX + piece.width ? destX + width : piece.destX + piece.width;
        const int32_t y1 = destY + height < piece.destY + piece.height ? destY + height : piece.destY + piece.height;
        if (x1 <= x0 || y1 <= y0) {
            continue;
        }
        TextureTile& tile = *piece.tile;
        if (WriteTileRect(image, tile, picture, alpha, left + (x0 - destX), top + (y0 - destY), x1 - x0, y1 - y0,
                          piece.srcX + (x0 - piece.destX), piece.srcY + (y0 - piece.destY), key) != 0) {
            result = -1;
            continue;
        }
        if (tile.twin != nullptr) {
            g_graphicsDevice.device->UpdateTexture(tile.twin, tile.texture);
        }
    }
    return result;
}

}  // namespace

int32_t CreateGraphImageTextures(GraphImage* image)
{
    GraphicsDeviceState& g = g_graphicsDevice;
    if (image == nullptr || !image->request.hardware) {
        return 0;
    }
    if (g.device == nullptr) {
        return -1;
    }
    const D3DFORMAT format = FormatOf(image);
    if (format == D3DFMT_UNKNOWN) {
        return AppendLog(L"指定のフォーマットで作成できるテクスチャフォーマットがありませんでした\n");
    }
    const bool renderTarget = image->request.renderTarget != 0;
    // The 9Ex device refuses the managed pool: its textures live in the default pool and
    // pictures reach them through a system-memory twin.
    const bool twin = !renderTarget && (g.direct3dEx != nullptr || image->request.systemMemoryTwin);
    const D3DPOOL pool = renderTarget || twin ? D3DPOOL_DEFAULT : D3DPOOL_MANAGED;
    const DeviceImage& own = DeviceImageOf(image);
    const UINT levels = static_cast<UINT>(own.mipLevels > 0 ? own.mipLevels : 1);
    for (int32_t i = 0; i < own.tileCount; ++i) {
        TextureTile& tile = own.tiles[i];
        if (tile.texture != nullptr) {
            continue;
        }
        const auto width = static_cast<UINT>(tile.textureWidth);
        const auto height = static_cast<UINT>(tile.textureHeight);
        if (FAILED(g.device->CreateTexture(width, height, levels, renderTarget ? D3DUSAGE_RENDERTARGET : 0, format,
                                           pool, &tile.texture, nullptr))) {
            tile.texture = nullptr;
            return AppendLog(L"書き込み専用テクスチャの作成に失敗しました\n");
        }
        if (twin &&
            FAILED(g.device->CreateTexture(width, height, levels, D3DUSAGE_DYNAMIC, format, D3DPOOL_SYSTEMMEM,
                                           &tile.twin, nullptr)) &&
            FAILED(g.device->CreateTexture(width, height, levels, 0, format, D3DPOOL_SYSTEMMEM, &tile.twin, nullptr))) {
            tile.twin = nullptr;
            ReleaseObject(tile.texture);
            return AppendLog(L"メモリテクスチャの作成に失敗しました\n");
        }
        if (FAILED(tile.texture->GetSurfaceLevel(0, &tile.surface))) {
            tile.surface = nullptr;
            ReleaseTileObjects(&tile);
            return AppendLog(L"テクスチャのサーフェスアドレスの取得に失敗しました\n");
        }
        if (renderTarget) {
            g.device->ColorFill(tile.surface, nullptr, 0);
        } else if (image->request.compression == 0) {
            ClearTile(image, tile);
        }
    }
    return 0;
}

int32_t DeviceMakeGraphImage(GraphRecord* graph, int32_t width, int32_t height, int32_t levels, int32_t alpha,
                             int32_t /*paletted*/, int32_t compression)
{
    GraphicsDeviceState& g = g_graphicsDevice;
    TextureFormatRequest request{};
    request.hardware = 1;
    request.alphaChannel = static_cast<uint8_t>(alpha);
    request.compression = static_cast<uint8_t>(compression >= 0 && compression <= 5 ? compression : 0);
    request.mipLevels = static_cast<uint8_t>(levels > 0 && levels < 16 ? levels : 1);
    request.alphaTest = static_cast<uint8_t>(!alpha && g_drawSettings.newGraphAlphaTest ? 1 : 0);
    request.colorBits = static_cast<uint8_t>(g_newGraphSettings.colorBits != 0 ? g_newGraphSettings.colorBits
                                             : alpha                           ? 32
                                                                               : GetConfiguredColorBits());
    request.systemMemoryTwin = g.direct3dEx != nullptr ? 1 : 0;
    const TextureSizeLimits limits{0, g.maxTextureSize, ScreenWidth()};
    const int32_t squareOnly = (g.caps.TextureCaps & D3DPTEXTURECAPS_SQUAREONLY) != 0 ? 1 : 0;
    const int32_t count = LayoutTextureTiles(width, height, 0, squareOnly, &limits, nullptr, 4096);
    if (count <= 0) {
        return AppendLog(L"グラフィックのオリジナル画像データ保存用メモリの確保に失敗しました\n");
    }
    const size_t bytes = sizeof(DeviceImageBlock) + sizeof(TextureTile) * static_cast<size_t>(count);
    auto* block = static_cast<DeviceImageBlock*>(AllocTrackedMemoryZeroed(static_cast<uint32_t>(bytes), "", 0));
    if (block == nullptr) {
        return AppendLog(L"グラフィックのオリジナル画像データ保存用メモリの確保に失敗しました\n");
    }
    GraphImage* image = &block->shared;
    DeviceImage* own = &block->own;
    image->held.device = own;
    image->refCount = 1;
    image->request = request;
    image->format = GetTextureFormatIndex(&request);
    image->transparentColor = 0x000000;
    image->width = width;
    image->height = height;
    own->mipLevels = request.mipLevels;
    own->tiles = reinterpret_cast<TextureTile*>(block + 1);
    own->tileCount = LayoutTextureTiles(width, height, 0, squareOnly, &limits, own->tiles, count);
    graph->image = image;
    graph->x = 0;
    graph->y = 0;
    graph->width = width;
    graph->height = height;
    // Every texel of the textures is held in the process too (the managed pool's copy, or the
    // system-memory twin beside a default-pool texture): a set of textures larger than a
    // 32-bit process can hold is refused before any is made, as the software image is.
    const D3DFORMAT format = FormatOf(image);
    int64_t textureBytes = 0;
    for (int32_t i = 0; i < own->tileCount; ++i) {
        textureBytes += TileTextureBytes(own->tiles[i], format, own->mipLevels);
    }
    if (request.systemMemoryTwin) {
        textureBytes *= 2;
    }
    if (textureBytes > INT32_MAX) {
        return AppendLog(L"グラフィックのオリジナル画像データ保存用メモリの確保に失敗しました\n");
    }
    return CreateGraphImageTextures(image);
}

int32_t TransferImageToGraphTextures(GraphRecord* graph, const BaseImage* picture, const BaseImage* alpha, int32_t left,
                                     int32_t top, int32_t width, int32_t height, int32_t destX, int32_t destY)
{
    // A picture drawn with its transparent colour keyed out becomes alpha-tested texels.
    const int32_t key = graph->image != nullptr && graph->image->request.alphaTest && alpha == nullptr ? 1 : 0;
    return UploadIntoPieces(graph, picture, alpha, left, top, width, height, destX, destY, key);
}

void DeviceReleaseGraphImage(GraphImage* image)
{
    if (image == nullptr || !image->request.hardware) {
        return;
    }
    const DeviceImage& own = DeviceImageOf(image);
    for (int32_t i = 0; i < own.tileCount; ++i) {
        ReleaseTileObjects(&own.tiles[i]);
    }
}

int32_t ReleaseAllGraphTextures()
{
    ForEachGraphImage([](GraphImage* image) { DeviceReleaseGraphImage(image); });
    return 0;
}

int32_t RecreateAllGraphTextures()
{
    ForEachGraphImage([](GraphImage* image) { CreateGraphImageTextures(image); });
    return 0;
}

int32_t DevicePaintGraph(GraphRecord* graph, int32_t red, int32_t green, int32_t blue, int32_t alpha)
{
    GraphicsDeviceState& g = g_graphicsDevice;
    if (g.device == nullptr) {
        return -1;
    }
    if (!graph->image->request.renderTarget) {
        // The device fills only draw-target textures: the others take a picture of the colour
        // through the upload every picture takes.
        BaseImage fill{};
        if (AllocXrgbBaseImage(graph->width, graph->height, &fill) != 0) {
            return -1;
        }
        SetupArgb8888Format(&fill.format);
        const uint32_t argb = static_cast<uint32_t>(alpha) << 24 | static_cast<uint32_t>(red) << 16 |
                              static_cast<uint32_t>(green) << 8 | static_cast<uint32_t>(blue);
        for (int32_t y = 0; y < fill.height; ++y) {
            auto* row = reinterpret_cast<uint32_t*>(fill.pixels + ptrdiff_t{fill.pitch} * y);
            for (int32_t x = 0; x < fill.width; ++x) {
                row[x] = argb;
            }
        }
        const int32_t result = UploadIntoPieces(graph, &fill, nullptr, 0, 0, fill.width, fill.height, 0, 0, 0);
        DiscardBaseImage(&fill);
        return result == 0 ? 0 : -1;
    }
    FlushVertexBatch();
    EndSceneIfOpen();
    const D3DCOLOR color = D3DCOLOR_ARGB(alpha, red, green, blue);
    const DeviceView& view = DeviceViewOf(graph);
    for (int32_t p = 0; p < view.pieceCount; ++p) {
        const TexturePiece& piece = view.pieces[p];
        if (piece.tile != nullptr && piece.tile->surface != nullptr) {
            const RECT rect{piece.srcX, piece.srcY, piece.srcX + piece.width, piece.srcY + piece.height};
            g.device->ColorFill(piece.tile->surface, &rect, color);
        }
    }
    return 0;
}

int32_t CopyScreenAreaToGraph(int32_t x1, int32_t y1, int32_t x2, int32_t y2, int32_t graphHandle)
{
    GraphRecord* graph = FindGraphRecord(graphHandle);
    if (graph == nullptr || graph->image == nullptr) {
        return -1;
    }
    FlushVertexBatch();
    EndSceneIfOpen();
    const PixelRect area{x1, y1, x2, y2};
    if (x2 - x1 != graph->width || y2 - y1 != graph->height) {
        return -1;
    }
    if (!graph->image->request.hardware) {
        // An image in memory: the views come from the back ends that made the images.
        GraphDrawInfo own{};
        GraphDrawInfo target{};
        DescribeGraph(graphHandle, &own);
        const MEMIMG* source = &g_screenImages.primary;
        if (FindGraphRecord(g_drawSettings.drawTarget) != nullptr) {
            source = DescribeGraph(g_drawSettings.drawTarget, &target) == 0 ? target.ownImage : nullptr;
        }
        if (own.ownImage == nullptr || source == nullptr || x1 < 0 || y1 < 0 || x2 <= x1 || y2 <= y1 ||
            x2 > source->width || y2 > source->height) {
            return -1;
        }
        return ConvertCopyMemImg(own.ownImage, source, &area, 0, 0) == 0 ? 0 : -1;
    }
    BaseImage locked{};
    if (LockBackBuffer(&area, &locked) != 0) {
        return -1;
    }
    const int32_t result = UploadIntoPieces(graph, &locked, nullptr, 0, 0, graph->width, graph->height, 0, 0, 0);
    UnlockBackBuffer();
    return result;
}

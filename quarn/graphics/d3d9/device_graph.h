// The Direct3D 9 back end's records of a graph image and of a graph's view of it: the image is
// a set of power-of-two texture tiles, and each graph keeps one TexturePiece per tile its
// rectangle touches, with ready-made corners. The shared records hold them in `held.device`
// (graph.h); the tile layout and the pieces are pure arithmetic, tested natively.
#pragma once

#include <cstdint>

#include "quarn/graphics/graph.h"

struct IDirect3DTexture9;
struct IDirect3DSurface9;
struct IUnknown;

// One power-of-two texture of a hardware image.
struct TextureTile {
    IDirect3DTexture9* texture;
    IDirect3DTexture9* twin;     // system-memory copy, or null
    IDirect3DSurface9* surface;  // level 0
    IUnknown* renderTargetExtra;
    int32_t x, y;                   // position in the image
    int32_t usedWidth, usedHeight;  // the part inside the image
    int32_t textureWidth, textureHeight;
};

struct TextureCorner {
    float x, y;  // graph pixels
    float u, v;  // texture pixel / texture size
};

// The part of one tile that a graph shows, with ready-made corners.
struct TexturePiece {
    int32_t destX, destY;  // in the graph
    int32_t srcX, srcY;    // in the tile's texture
    int32_t width, height;
    TextureCorner corners[4];  // top-left, top-right, bottom-left, bottom-right
    uint8_t diagonal[4];       // per corner: height - x * (height / width) >= y
    TextureTile* tile;
};

// A device image: the tiles follow the shared record and this one in the same block.
struct DeviceImage {
    int32_t mipLevels;
    int32_t tileCount;
    TextureTile* tiles;
};

// A graph's view on the device: one piece per tile its rectangle overlaps, following this
// record in the same block.
struct DeviceView {
    int32_t pieceCount;
    TexturePiece* pieces;
};

// ---- Texture sizes (pure; the device limits are passed in)
constexpr int32_t kMaxTextureSizes = 32;

struct TextureSizeLimits {
    int32_t libraryLimit;  // 0 = none
    int32_t deviceMax;     // the device's largest texture side
    int32_t screenWidth;
};

// Power-of-two sizes that together cover the length; returns the count, or -1 when more than
// kMaxTextureSizes would be needed.
int32_t SplitIntoTextureSizes(int32_t length, int32_t single, const TextureSizeLimits* limits, int32_t* sizes);
// The texture-format index of a request.
int32_t GetTextureFormatIndex(const TextureFormatRequest* request);
// Lays out the tiles of a width x height image: every column size with every row size, row
// by row; with squareOnly each non-square tile is cut into squares of its shorter side.
// Fills position, used and texture sizes; returns the count, or -1 when more than capacity
// tiles would be needed. With tiles null only counts (still up to capacity).
int32_t LayoutTextureTiles(int32_t width, int32_t height, int32_t single, int32_t squareOnly,
                           const TextureSizeLimits* limits, TextureTile* tiles, int32_t capacity);
// Fills one piece per tile that the rectangle overlaps, in tile order; returns the count
// (pieces may be null to count).
int32_t BuildTexturePieces(const TextureTile* tiles, int32_t tileCount, int32_t x, int32_t y, int32_t width,
                           int32_t height, TexturePiece* pieces);

// The device records of an image and of a graph's view, or empty ones (no tiles, no pieces)
// when the back end that made the image is another.
inline const DeviceImage& DeviceImageOf(const GraphImage* image)
{
    static const DeviceImage kNone{0, 0, nullptr};
    return image->held.device != nullptr ? *image->held.device : kNone;
}
inline const DeviceView& DeviceViewOf(const GraphRecord* graph)
{
    static const DeviceView kNone{0, nullptr};
    return graph->held.device != nullptr ? *graph->held.device : kNone;
}
// The tile of the graph's first piece, or null (no device view, or no tile).
inline TextureTile* FirstPieceTile(const GraphRecord* graph)
{
    const DeviceView& view = DeviceViewOf(graph);
    return view.pieceCount > 0 ? view.pieces[0].tile : nullptr;
}

// The device back end's part of a graph (see RenderBackend): describing its image, making its
// view of its rectangle and releasing that view.
struct GraphDrawInfo;
void DeviceDescribeGraphImage(GraphRecord* graph, GraphDrawInfo* info);
int32_t DeviceViewGraphImage(GraphRecord* graph);
void DeviceReleaseGraphView(GraphRecord* graph);

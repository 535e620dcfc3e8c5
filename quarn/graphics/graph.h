// Graph handles, the images they share and the drawing front end: what graphs offer the rest
// of the library.
//
// A graph is a drawable image behind a handle of type 1. Its pixels live in a GraphImage,
// reference counted and shared by every graph cut from it (sub-graphs show a rectangle of
// another graph's image without copying it). On the software renderer the image is one
// MEMIMG and each graph keeps a MEMIMG view of its rectangle; on the hardware renderer the
// image is a set of power-of-two texture tiles and each graph keeps one TexturePiece per tile
// its rectangle touches.
//
// Portable: the records and the software path build without the OS headers.
#pragma once

#include <cstdint>

#include "quarn/core/handle.h"
#include "quarn/quarn.h"
#include "quarn/image/image.h"
#include "quarn/softrender/softrender.h"

struct RenderBackend;

constexpr int32_t kGraphCapacity = 32768;
// The draw state's transparent colour (0x00RRGGBB) given to new images.
constexpr uint32_t kNewImageTransparentRgb = 0x000000;

// How an image is to be made, one byte each, in this order.
struct TextureFormatRequest {
    uint8_t hardware;  // 1: texture tiles, 0: a MEMIMG
    uint8_t alphaChannel;
    uint8_t renderTarget;  // the image can be a draw target
    uint8_t reserved;
    uint8_t systemMemoryTwin;  // hardware: keep a system-memory copy per tile
    uint8_t compression;       // 0 none, 1-5 DXT1-DXT5
    uint8_t mipLevels;
    uint8_t alphaTest;
    uint8_t colorBits;   // 16 or 32
    uint8_t blendImage;  // software: an 8-bit single-channel image
    uint8_t paletted;    // software
};
static_assert(sizeof(TextureFormatRequest) == 11, "eleven bytes");

// What each back end keeps of an image and of a graph's view of it lies in its own records,
// in its own folder: SoftImage and SoftView (soft/soft_graph.h), DeviceImage and DeviceView
// (d3d9/device_graph.h). The shared records hold them in one place each, `held`: only the
// records of the back end that made the image are set, the others stay null, and the front end
// passes the graph to that back end (ImageRenderBackend) without looking inside.
struct SoftImage;
struct SoftView;
struct DeviceImage;
struct DeviceView;

struct HeldImage {
    SoftImage* soft;
    DeviceImage* device;
};

struct HeldView {
    SoftView* soft;
    DeviceView* device;
};

// The pixels shared by a graph and its sub-graphs.
struct GraphImage {
    int32_t refCount;
    int32_t format;  // hardware: texture-format index; software: 15/16 (16-bit), 17/18 (32-bit)
    TextureFormatRequest request;
    uint32_t transparentColor;  // the draw state's when the image was made
    int32_t width, height;
    const RenderBackend* backend;  // the back end that made it and holds its pixels
    HeldImage held;                // its record of them, in the same block as this one
};

// A kept file name: shared between graphs by count.
struct GraphFileName {
    uint32_t count;
    wchar_t path[1];  // terminated; the block is as long as the path needs
};

struct GraphRecord {
    int32_t check;
    int32_t handle;
    int32_t* lostFlag;  // set to 1 when the graph is destroyed; null = none
    GraphImage* image;  // null once destruction began
    int32_t movie;      // movie playing into the graph, -1 when none
    GraphFileName* fileName;
    int32_t sourceX, sourceY;  // the graph's place in the loaded file's picture
    int32_t restoreFlag;       // transfer flag for loading the file again
    int32_t x, y;              // rectangle within the image
    int32_t width, height;
    void* extraBuffer[2];  // owned, released at destruction
    uint32_t extraWord[2];
    HeldView held;  // the image's back end's view of the rectangle (own block)
};

// ---- New-graph settings (the alpha-test flag and the restore routine live in the draw state)
struct NewGraphSettings {
    int32_t colorBits;     // 0 = the screen's
    int32_t alphaChannel;  // blank graphs get an alpha channel
};
extern NewGraphSettings g_newGraphSettings;

// Coordinate arithmetic saturates instead of overflowing: a far-off rectangle stays far off.
inline int32_t SaturateToInt32(int64_t value)
{
    return value > INT32_MAX ? INT32_MAX : value < INT32_MIN ? INT32_MIN : static_cast<int32_t>(value);
}

// ---- Graph table and records
HandleTable* GraphTable();
GraphRecord* FindGraphRecord(int32_t handle);

// ---- Graph operations (0 / -1 / handle)
int32_t AllocateGraphHandle();
int32_t SetUpGraphImage(int32_t graphHandle, int32_t mipLevels, int32_t width, int32_t height, int32_t alpha,
                        int32_t paletted, int32_t compression);
int32_t BuildGraphDrawInfo(int32_t graphHandle);
int32_t MakeGraphForBaseImage(const BaseImage* image, const BaseImage* alpha, int32_t flag);
int32_t ConvertBaseImageToGraph(BaseImage* image, BaseImage* alpha, int32_t flag, int32_t mirrorA, int32_t mirrorB);
int32_t RefillGraphFromBaseImage(BaseImage* image, BaseImage* alpha, int32_t graph, int32_t flag, int32_t mirrorA,
                                 int32_t mirrorB);
int32_t RefillGraphFromImageData(const void* data, int32_t size, int32_t graphHandle, const void* alphaData,
                                 int32_t alphaSize, int32_t flag, int32_t mirror);
int32_t TransferImageToGraph(const BaseImage* image, const wchar_t* fileName, const BaseImage* alpha, int32_t offsetX,
                             int32_t offsetY, int32_t graphHandle, int32_t restoreFlag);
int32_t TransferImageRectToGraph(const BaseImage* image, const BaseImage* alpha, const PixelRect* source, int32_t destX,
                                 int32_t destY, int32_t graphHandle, int32_t flag);
int32_t ShareGraphImage(int32_t graphHandle, int32_t source, int32_t x, int32_t y, int32_t width, int32_t height);
int32_t KeepGraphFileName(int32_t graphHandle, const wchar_t* path, int32_t source);
int32_t DestroyAllGraphs();
int32_t TestGraphHandle(int32_t handle);
int32_t AttachGraphLostFlag(int32_t handle, int32_t* flag);
int32_t InstallGraphRestoreHandler(int32_t (*routine)());
int32_t HasGraphRestoreHandler();
int32_t RunGraphRestore();
int32_t RestoreGraphsFromFiles();
int32_t GetNewGraphColorBits();
int32_t SetNewGraphAlphaTestFlag(int32_t flag);
int32_t GetNewGraphAlphaTestFlag();
int32_t GetNewGraphAlphaChannelFlag();
int32_t TestBlendGraphSize(const GraphRecord* graph);

// ---- Drawing front end
// The corners last passed to SetDrawClipRect, as given: x1, y1, x2, y2.
int32_t GetRequestedDrawClipRect(int32_t corners[4]);

// Every draw that changes an area of the draw target (a graph, a text) runs between these two:
// under an active mask the area is copied into the mask's work before and written back through
// the mask after; with kBlendModeSubtract on a renderer without reverse subtraction, and subtract
// set, the area is inverted around the draw. A draw inside another's area (the glyphs of a
// text) runs bare: the outer area covers it, and a second pass would undo the first.
struct DrawAreaScope {
    PixelRect area;
    int8_t outermost;
    int8_t inverted;
};
DrawAreaScope OpenDrawArea(const PixelRect& area, int32_t subtract);
void CloseDrawArea(const DrawAreaScope& scope);

// The software back end's draws.
int32_t SoftDrawGraph(const GraphRecord* graph, int32_t x, int32_t y, int32_t transparent);
int32_t SoftDrawGraphStretched(const GraphRecord* graph, int32_t x1, int32_t y1, int32_t x2, int32_t y2,
                               int32_t transparent);
int32_t SoftDrawGraphFourCorners(const GraphRecord* graph, float x1, float y1, float x2, float y2, float x3, float y3,
                                 float x4, float y4, int32_t transparent);
int32_t SoftDrawGraphTriangles(const GraphRecord* graph, int32_t x1, int32_t y1, int32_t x2, int32_t y2, int32_t x3,
                               int32_t y3, int32_t x4, int32_t y4, int32_t transparent);

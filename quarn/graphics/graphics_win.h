// The screen's Windows half: the renderer's device, the draw target's timer, present and its
// pacing, and the display's modes. Starting graphics also starts the fonts, a mode change
// re-creates the standard font and the public present draws the on-screen log first: those
// compositions are the runtime's, which calls the functions here and the font layer's in turn.
// Windows build only.
#pragma once

#include <windows.h>

#include <ddraw.h>
#include <d3d9.h>

#include <cstdint>

#include "quarn/graphics/graph.h"
#include "quarn/graphics/graphics.h"
#include "quarn/system/system.h"

// Releases a COM object of the device and forgets it; nothing for none.
template <typename T>
void ReleaseObject(T*& object)
{
    if (object != nullptr) {
        object->Release();
        object = nullptr;
    }
}

// 1 when the device can make textures of the format for the usage over the back buffer's
// format, else 0 (the last argument is the format table's context, unused).
int32_t CheckTextureFormat(uint32_t usage, uint32_t format, void*);

// The window timer that re-presents the front screen while it is the draw target.
constexpr UINT_PTR kFrontScreenTimerId = 32767;
constexpr UINT kFrontScreenTimerMs = 32;

// ---- Start, end and the device
// Results of StartGraphicsCore.
enum {
    kGraphicsStarted = 0,         // started now: the fonts start next
    kGraphicsAlreadyStarted = 1,  // nothing done
    kGraphicsDeviceFailed = -1,   // the caller ends graphics, then the renderer's device
    kGraphicsScreenFailed = -2,   // the caller ends graphics
};
// Graphics start without the fonts: screen defaults, the device, the screen images and the
// draw settings.
// The screen size the application configured (the back buffer's and the software screen's).
int32_t ScreenWidth();
int32_t ScreenHeight();

int32_t StartGraphicsCore();
// Graphics end without the fonts: graphs, the front-screen timer, the device and the screen
// images. Does nothing before graphics have started. Always 0.
int32_t ShutDownGraphicsCore();
int32_t StartDirect3D();
int32_t ShutDownDirect3D();
int32_t CreateDirectDrawObject();
// Begins making the DirectDraw object on a thread of its own; the next CreateDirectDrawObject
// takes it (with the same results and log lines as making it there). Once per object.
void BeginDirectDrawAhead();
// Waits for an object begun ahead and releases it: for a start-up that fails before graphics.
void DiscardDirectDrawAhead();
// The vertical-blank object, or null.
IDirectDraw7* GetDirectDrawObject();
// Zero-fills the record and returns it.
DDCAPS* ClearDirectDrawCaps(DDCAPS* caps);
// The run-time loaded "d3d9.dll", for the hardware back end.
HMODULE GetDirect3DModule();

// ---- The Direct3D 9 device
// The device's objects (COM references it owns), its formats and what its caps allow.
struct GraphicsDeviceState {
    IDirect3D9* direct3d;      // the plain object, or the Ex object through its plain face
    IDirect3D9Ex* direct3dEx;  // non-null when Direct3DCreate9Ex succeeded
    IDirect3DDevice9* device;
    IDirect3DDevice9Ex* deviceEx;  // the same object as device on the Ex path
    IDirect3DSwapChain9* swapChain;
    IDirect3DSurface9* backBuffer;
    IDirect3DSurface9* subBackBuffer;  // screen-size render target, made on demand
    IDirect3DSurface9* depthBuffer;
    int32_t depthWidth, depthHeight;  // powers of two that hold the screen
    D3DFORMAT backBufferFormat;
    D3DFORMAT depthFormat;
    D3DCAPS9 caps;
    int32_t blendOpCapable;
    int32_t maxTextureSize;
    int32_t shader20Adapter;
    int32_t vertexShader20, pixelShader20;
    // The back-buffer lock: the surface locked in place, or the system-memory copy locked.
    IDirect3DSurface9* lockedSurface;
    IDirect3DSurface9* lockSystemSurface;
    int32_t softwareLocked;
};
extern GraphicsDeviceState g_graphicsDevice;
// Fault injection for tests: while set, device creation fails as on an adapter without a
// usable device.
extern int32_t g_deviceCreationRefused;
// For tests: while set, the plain Direct3D 9 object is taken even where the Ex one exists. Its
// device can be lost, which an Ex device never is.
extern int32_t g_direct3DExRefused;
int32_t CreateDirect3DObject();
int32_t CreateDirect3DDevice();
int32_t CreateDepthBuffer();
int32_t CreateSubBackBuffer();
// Full screen: the sub back buffer holds the picture and is the render target. 0 / -1.
int32_t EnsureSubBackBuffer();
// Window activation: -1 when a present of the device fails (it was lost), else 0.
int32_t TestDevicePresent();
int32_t RefreshDialogBoxMode(int32_t flag);
int32_t SetDialogBoxModeOutsideScene(int32_t flag);
// Describes an area of the draw target (inside it) as a read-only image until the unlock.
// One lock at a time. 0 / -1.
int32_t LockBackBuffer(const PixelRect* area, BaseImage* out);
int32_t UnlockBackBuffer();
int32_t ResetDrawSettings();

// ---- Graph images on the device
// The textures (and system-memory twins) of every tile that has none: 0, or -1 with its log
// line. An image of the software renderer has none to make (0).
int32_t CreateGraphImageTextures(GraphImage* image);
// The device back end's image operations (see RenderBackend).
int32_t DeviceMakeGraphImage(GraphRecord* graph, int32_t width, int32_t height, int32_t levels, int32_t alpha,
                             int32_t paletted, int32_t compression);
int32_t TransferImageToGraphTextures(GraphRecord* graph, const BaseImage* picture, const BaseImage* alpha, int32_t left,
                                     int32_t top, int32_t width, int32_t height, int32_t destX, int32_t destY);
void DeviceReleaseGraphImage(GraphImage* image);
int32_t DevicePaintGraph(GraphRecord* graph, int32_t red, int32_t green, int32_t blue, int32_t alpha);
// Before a device restart every tile's objects go; after it they are made again (empty, until
// the graphs' restore fills them). Always 0.
int32_t ReleaseAllGraphTextures();
int32_t RecreateAllGraphTextures();
// Copies the draw target's area (x1, y1)-(x2, y2) into a graph of exactly its size. 0 / -1.
int32_t CopyScreenAreaToGraph(int32_t x1, int32_t y1, int32_t x2, int32_t y2, int32_t graph);
int32_t IsFullScreenMode();
int32_t ReturnZero();

// ---- Present and its pacing
// The present without the on-screen log: -1 before start-up or once the program quits.
int32_t PresentScreenCore(const RECT* area);
int32_t MeasureRefreshPeriod();
int32_t WaitForVerticalBlankPaced();

// ---- Screen modes
int32_t SwitchDisplaySettings();
int32_t IsDisplayModeListed(int32_t width, int32_t height, int32_t bits);
int32_t SetDisplayFallbackFlag(int32_t flag);
// Frees the display-mode list (it is built again on its next use).
void FreeDisplayModeList();
// The mode the screen settings hold now, and storing one into them.
ScreenMode CurrentScreenMode();
void StoreScreenMode(const ScreenMode& mode);

// ---- What the window's messages ask of the screen
int32_t HasDirectDraw();
int32_t HasGraphRestoreRoutine();

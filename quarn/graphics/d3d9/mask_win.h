// The device's half of the mask screen, and what it needs of the device. Windows build only.
#pragma once

#include <windows.h>

#include <d3d9.h>

#include <cstdint>

#include "quarn/core/core.h"

// The surface of the current draw target (graph, sub back buffer or back buffer), whatever
// the render target is.
IDirect3DSurface9* DrawTargetSurface();

// The device's mask textures: the image texture (the mask as alpha, DEFAULT pool) with its
// system-memory twin that uploads go through, and the work texture with its surface.
struct DeviceMaskObjects {
    IDirect3DTexture9* image;
    IDirect3DTexture9* imageTwin;
    D3DFORMAT imageFormat;
    IDirect3DTexture9* screen;
    IDirect3DSurface9* work;
    IDirect3DSurface9* savedTarget;  // the draw target taken by the last prepare step
    int32_t textureWidth, textureHeight;
};
extern DeviceMaskObjects g_deviceMask;

// The device back end's mask operations (see RenderBackend); the release also runs when the
// device goes.
int32_t DeviceBuildMask();
void DeviceReleaseMask();
int32_t DeviceUploadMask(const PixelRect* area);
int32_t DeviceTargetMaskWork();
void DevicePrepareMask(const PixelRect* area);
int32_t DeviceCommitMask(const PixelRect* area);

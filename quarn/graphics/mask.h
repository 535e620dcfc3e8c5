// Masks: mask handles, and the mask screen, a one-byte-per-pixel map of the screen that
// limits where drawing lands. While masking is active drawing goes into a work image (the
// software renderer) or a work surface (the device); each draw first copies its area of the
// draw target there, and afterwards only the pixels the mask lets through are written back.
//
// Portable: the software path is here; the device's textures and copies are reached through
// MaskDeviceCalls, which the Windows back end installs while its device lives.
#pragma once

#include <cstdint>

#include "quarn/core/core.h"
#include "quarn/core/handle.h"
#include "quarn/softrender/softrender.h"

constexpr int32_t kMaskCapacity = 512;

// A mask picture a caller keeps: width x height bytes, rows pitch apart.
struct MaskRecord {
    int32_t check;
    uint8_t* data;
    int32_t width, height, pitch;
};

// The device's half of the mask screen. Each returns 0, or -1 when the device refused.
struct MaskDeviceCalls {
    // Makes what is missing of the image texture (and its system-memory twin) and the work
    // texture with its surface, for a screen of width x height.
    int32_t (*build)(int32_t width, int32_t height);
    void (*release)();
    // The mask bits of the area into the image texture.
    int32_t (*upload)(const uint8_t* bits, int32_t pitch, const PixelRect* area);
    // The work surface becomes the render target.
    int32_t (*targetWork)();
    // The area of the draw target into the work surface.
    int32_t (*copyToWork)(const PixelRect* area);
    // The area of the work surface back into the draw target where the mask lets it through,
    // then the work surface is the render target again.
    int32_t (*commit)(const PixelRect* area, int32_t reverse);
};

struct MaskScreenState {
    uint8_t* bits;       // pitch x height, null while there is no mask screen
    int32_t width, height, pitch;
    int32_t exists;      // a mask screen has been asked for
    int32_t reverse;     // 0: draw where the byte is 0; 1: where it is not
    MEMIMG work;  // software work image
    int32_t workCreated;
};
extern MaskScreenState g_maskScreen;

// The device's mask calls, or null on the software renderer.
void UseMaskDeviceCalls(const MaskDeviceCalls* calls);

HandleTable* MaskTable();
// A new mask of width x height bytes, all 0: its handle, or -1.
int32_t MakeMask(int32_t width, int32_t height);
MaskRecord* FindMaskRecord(int32_t handle);
int32_t RemoveMaskHandle(int32_t handle);
void RemoveAllMaskHandles();

int32_t IsMaskDrawingOn();
int32_t SwitchMaskDrawing(int32_t flag);
int32_t BuildMaskScreen(int32_t flag);
// Asks for a mask screen of the screen's size (all bytes 0) and switches masking on when
// mask drawing is wanted. 0, or -1.
int32_t CreateMaskScreen();
int32_t ReleaseMaskScreen();
int32_t RestoreMaskScreen();
int32_t EndMaskScreen();
int32_t SetMaskReverse(int32_t flag);
// Sets the mask bytes of a rectangle (kept inside the mask screen) to value. 0, or -1 without
// a mask screen.
int32_t FillMaskScreenArea(const PixelRect* area, uint8_t value);

// Around every draw while masking is active: the area (clipped) copied into the work image,
// then written back through the mask.
void PrepareMaskedDrawArea(const PixelRect* area);
int32_t CommitMaskedDrawArea(const PixelRect* area);

// Masks: mask handles, and the mask screen, a one-byte-per-pixel map of the screen that
// limits where drawing lands. While masking is active drawing goes into a work image (the
// software renderer) or a work surface (the device); each draw first copies its area of the
// draw target there, and afterwards only the pixels the mask lets through are written back.
//
// Portable: the mask bytes, the flags and the handles are here; what drawing under the mask
// goes through (the work image or surface, the copies and the write-back) is the render back
// end's (RenderBackend's mask operations).
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

struct MaskScreenState {
    uint8_t* bits;  // pitch x height, null while there is no mask screen
    int32_t width, height, pitch;
    int32_t exists;   // a mask screen has been asked for
    int32_t reverse;  // 0: draw where the byte is 0; 1: where it is not
    MEMIMG work;      // software work image
    int32_t workCreated;
};
extern MaskScreenState g_maskScreen;

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

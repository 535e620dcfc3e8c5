// The blit kernels' fast paths: one table of row forms, each taken for the draws it fits in
// place of the general per-pixel loops, and the one lookup both kernels choose by. Internal
// to the software renderer.
#pragma once

#include <cstdint>

#include "quarn/softrender/blend_mode.h"
#include "quarn/softrender/simd_rows.h"

// Which kernel a form serves.
enum : uint8_t {
    kRowUnscaled = 1,
    kRowScaled = 2,
};

// What the source store holds.
enum : uint8_t {
    kSourcePlain = 1,
    kSourceAlpha = 2,
    kSourcePaletted = 4,
};

inline uint8_t SourceOfStore(const MemImgBase* store)
{
    return store->paletted ? kSourcePaletted : store->alpha ? kSourceAlpha : kSourcePlain;
}

// One draw as the kernel sets it up. mode and p as ReadBlendSetup leaves them.
struct FastPathQuery {
    uint8_t kernel;  // kRowUnscaled or kRowScaled
    int32_t kind;    // the stores' kind
    uint8_t source;  // kSourcePlain, kSourceAlpha or kSourcePaletted
    BlendMode mode;
    uint32_t p;
    bool trans;
    bool mask;
    bool bright;
    bool runs;      // the run-length path
    bool selfDraw;  // source and destination share a store
};

constexpr int kAnyParam = -1;

// What a form needs of the processor.
enum : uint8_t {
    kNeedsNothing = 0,
    kNeedsMmx = 1,
    kNeedsSse2 = 2,
};

// One fast path: the draws it fits and its row form. No form draws under a mask, a bright
// colour or the run-length path.
struct FastPath {
    uint8_t kernels;  // kRowUnscaled, kRowScaled or both
    uint8_t kinds;    // 1 << store kind, for each kind it draws
    uint8_t source;   // one of kSourcePlain, kSourceAlpha, kSourcePaletted
    BlendMode mode;
    int16_t p;  // kAnyParam or the one parameter
    bool trans;
    uint8_t needs;
    // Also taken when a store is drawn onto itself, where a draw's reads may see its own
    // writes. The SSE2 forms, which read a whole step of source pixels before writing, are
    // not; the others keep there the steps the kernels have always taken.
    bool selfDraw;
    // The form writes its source pixels as they are: the scaled kernel gathers them
    // straight into the destination.
    bool copies;
    RowFn row;
};

// The row form that draws the query, or null when the general path draws it: the first
// entry of the table that fits, among those the processor's MMX and SSE2 decisions allow.
const FastPath* FindFastPath(const FastPathQuery& query);

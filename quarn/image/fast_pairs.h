// The common format pairs of the converting copy, converted by fixed bit arithmetic.
#pragma once

#include <cstdint>

#include "quarn/image/image.h"

struct FastPairJob {
    uint8_t* dst;
    int dstPitch;
    int dstX, dstY;
    const uint8_t* src;
    int srcPitch;
    PixelRect rect;
};

// Converts the rectangle and returns true when (source, destination) is one of the fixed
// pairs; returns false, writing nothing, for any other pair.
bool ConvertFastPair(const FastPairJob& job, const ColorFormat& dst, const ColorFormat& src, bool keyToAlpha,
                     bool alphaInUse, uint32_t key);

// n 32-bit pixels: (v & keep) | fill each, SSE2 where the processor has it. Returns n.
int KeepOrRow32(const uint8_t* s, uint8_t* d, int n, uint32_t keep, uint32_t fill);

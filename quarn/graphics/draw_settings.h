// The draw state: the settings every drawing operation draws under. Portable.
#pragma once

#include <cstdint>

#include "quarn/core/core.h"
#include "quarn/image/image.h"
#include "quarn/softrender/softrender.h"

// Draw targets besides graph handles. -3 and -5 are taken and behave as the back screen.
constexpr int32_t kDrawTargetBackScreen = -2;
constexpr int32_t kDrawTargetFrontScreen = -4;

constexpr int32_t kSamplerStages = 8;

// Depth test set-up for one kind of drawing (2-D or 3-D).
struct DepthStateSet {
    int32_t test;     // 0 off
    int32_t write;    // 0 off
    int32_t compare;  // comparison function, 4 = less or equal
    int32_t bias;
};

// Colour and highlight of lit surfaces; colours are red, green, blue, alpha.
struct MaterialSettings {
    float diffuse[4];
    float ambient[4];
    float specular[4];
    float emissive[4];
    float power;
};

struct DrawSettings {
    // ---- Blend, bright colour, filtering and fog
    int32_t fogMode;    // 0 none, 1 exponential, 2 exponential squared, 3 linear
    uint32_t fogColor;  // 0xFFRRGGBB
    float fogStart;
    float fogEnd;
    int32_t filterMode;         // 0 nearest, 1 bilinear, 2 anisotropic
    int32_t maxAnisotropy = 1;  // at least 1
    BlendMode blendMode;        // stored unchecked
    int32_t blendParam;         // 0 to 255
    int32_t blendGraph = -1;    // graph handle weighting later draws, or -1
    int32_t blendBorderPos;     // 0 to 255
    int32_t blendBorderRange;   // 0 to 255
    int32_t blendGraphOffsetX;
    int32_t blendGraphOffsetY;
    // Blue, green and red bytes of the draw-bright colour in memory order, read together as
    // the word 0x00RRGGBB; kNoBrightColor means no bright.
    uint32_t brightColor = kNoBrightColor;
    int32_t drawingDisabled;  // drawing operations and most setters do nothing while set
    int32_t emptyClip;        // 1 while the clip rectangle is empty

    // ---- Draw target and clip
    int32_t drawTarget;  // -2 back screen, -4 front screen, or a graph handle
    int32_t drawTargetWidth;
    int32_t drawTargetHeight;
    PixelRect clip;  // drawing is kept inside it; right and bottom exclusive
    // The image drawing goes to on the software renderer (screen, graph or mask image), or
    // null; the kernels keep to the clip only when drawing into it.
    MEMIMG* softDrawTarget;

    // ---- Device state the hardware mapping reads
    DepthStateSet depth2d;
    DepthStateSet depth3d;
    int32_t cullMode;
    int32_t addressU[kSamplerStages];  // 3 = clamp
    int32_t addressV[kSamplerStages];
    int32_t fogEnable;
    int32_t lightingOff;
    int32_t specularOff;
    float drawZ;  // depth of 2-D quads

    // ---- Masks
    int32_t maskDrawing;  // 1: draws go through the mask screen while masking is active
    int32_t maskingActive;

    // ---- Matrices, camera and projection
    Matrix4x4 world;
    Matrix4x4 view;
    Matrix4x4 projection;
    Matrix4x4 screenMapping;  // projection space to target pixels
    Matrix4x4 screenMappingInverse;
    float screenCenterX, screenCenterY;
    Vector3 cameraEye, cameraTarget, cameraUp;
    Matrix4x4 viewport;  // places the projected picture around the camera's screen centre
    Matrix4x4 combined;  // world x view x projection x viewport, while combinedValid
    int32_t combinedValid;
    float cameraAxes[3][4];    // the view's first three columns: right, up, forward (w 0)
    Matrix4x4 projectionUser;  // the caller's projection (mode 2)
    int32_t projectionMode;    // 0 perspective, 1 parallel, 2 the caller's matrix
    float projectionNear, projectionFar;
    float projectionFov;  // radians
    float projectionAspectScale;
    float projectionParallelSize;

    // ---- Lighting
    MaterialSettings material;
    int32_t materialInUse;

    // ---- Graph creation
    int32_t newGraphAlphaTest;  // 1: transparent colours of new graphs become alpha tests
    float quadEdgeOffset;       // read by the hardware quads

    // Kept across resets: called after the graphs' images were lost, to rebuild them.
    int32_t (*graphRestoreRoutine)();
};

// The one draw state of the library (main thread only).
inline DrawSettings g_drawSettings{};

// The bright colour as 0x00RRGGBB.
inline uint32_t DrawBrightRgb(const DrawSettings& s) { return s.brightColor & 0xFFFFFF; }

// What the software kernels draw under, taken from the draw settings.
SoftBlendState CurrentSoftBlendState();

// The software renderer's entry points: each reads the draw settings once, at entry, and runs
// its kernel under them (see softrender.h).
void RenderMemImg(MEMIMG* dst, const MEMIMG* src, int x, int y, int transparent, const MEMIMG* mask);
void RenderMemImgFillRect(MEMIMG* dst, const PixelRect* rect, uint32_t color);
void RenderMemImgScaled(MEMIMG* dst, const MEMIMG* src, const int32_t corners[4], int transparent, const MEMIMG* mask);
void RenderMemImgTriangle(MEMIMG* dst, const MEMIMG* src, const MemImgVertex* vertices, int transparent,
                          const MEMIMG* mask, uint32_t flatColor);

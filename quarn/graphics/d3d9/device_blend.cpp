// The blend modes on the hardware renderer: the draw settings turned into fixed-function
// blend factors, alpha tests and texture-stage set-ups, each state sent only when it differs
// from what the device holds.
#include <cstring>

#include "quarn/graphics/d3d9/device_graph.h"
#include "quarn/graphics/d3d9/device_state.h"
#include "quarn/graphics/draw_settings.h"
#include "quarn/graphics/graph.h"

// Indexed by BlendMode, one row for each in its order.
const BlendFactorRow kBlendFactorTable[kBlendModeCount] = {
    {-1, -1, 0, kBlendOpAdd},                             // kBlendModeNone
    {kBlendInvSrcAlpha, kBlendSrcAlpha, 0, kBlendOpAdd},  // kBlendModeAlpha
    {kBlendOne, kBlendSrcAlpha, 0, kBlendOpAdd},          // kBlendModeAdd
    {kBlendZero, kBlendInvDestColor, 0, kBlendOpAdd},     // kBlendModeSubtract (emulated)
    {kBlendSrcColor, kBlendZero, 0, kBlendOpAdd},         // kBlendModeMultiply
    {kBlendOne, kBlendSrcAlpha, 0, kBlendOpAdd},          // kBlendModeAddInternal
    {-1, -1, 0, kBlendOpAdd},                             // kBlendModeNoneAlt
    {-1, -1, 0, kBlendOpAdd},                             // kBlendModeFactorsKept
    {kBlendOne, kBlendZero, 0, kBlendOpAdd},              // kBlendModeDestinationKept
    {kBlendZero, kBlendInvDestColor, 0, kBlendOpAdd},     // kBlendModeInvertBySource
    {kBlendInvSrcAlpha, kBlendSrcAlpha, 2, kBlendOpAdd},  // kBlendModeInverseBlend
    {kBlendSrcColor, kBlendZero, 1, kBlendOpAdd},         // kBlendModeMultiplyBlend
    {kBlendOne, kBlendSrcAlpha, 0, kBlendOpRevSubtract},  // kBlendModeReverseSubtract
};

namespace {

constexpr uint16_t kLeave = 0xFFFF;

DrawStageEntry Stage(void* texture, int32_t coord, uint32_t alphaOp, uint32_t alphaArg1, uint32_t alphaArg2,
                     uint32_t colorOp, uint32_t colorArg1, uint32_t colorArg2)
{
    return DrawStageEntry{texture,
                          coord,
                          static_cast<uint16_t>(alphaArg1),
                          static_cast<uint16_t>(alphaArg2),
                          static_cast<uint16_t>(alphaOp),
                          static_cast<uint16_t>(colorArg1),
                          static_cast<uint16_t>(colorArg2),
                          static_cast<uint16_t>(colorOp)};
}

DrawStageEntry Terminator()
{
    return Stage(nullptr, -1, kTopDisable, kTaTexture, kTaDiffuse, kTopDisable, kTaTexture, kTaDiffuse);
}

// The set-up of one block by the rule of the stage kinds; see StageSetupFor.
StageSetup BuildStageSetup(int32_t k, int32_t c, int32_t v, int32_t t)
{
    StageSetup setup{};
    for (auto& stage : setup.stages) {
        stage = Terminator();
    }
    const bool blendGraph = c >= 2;
    const bool vertexColor = (c & 1) != 0;
    const uint32_t colorOp = vertexColor ? kTopModulate : kTopSelectArg1;
    if (!blendGraph) {
        const uint32_t texel = kTaTexture | (k == 2 ? kTaComplement : 0u);
        // Opaque textures take the vertex alpha; the others their own, times the vertex alpha
        // when it is used.
        const uint32_t alphaOp = t == 0 ? kTopSelectArg1 : v ? kTopModulate : kTopSelectArg1;
        const uint32_t alphaArg1 = t == 0 ? kTaDiffuse : kTaTexture;
        setup.stages[0] = Stage(nullptr, 0, alphaOp, alphaArg1, kTaDiffuse, colorOp, texel, kTaDiffuse);
        setup.count = 1;
        if (k == 1) {
            // Multiply blend: the colour fades towards white by the alpha.
            setup.stages[1] = Stage(nullptr, -1, kTopSelectArg1, kTaCurrent, kTaDiffuse, kTopBlendCurrentAlpha,
                                    kTaCurrent, kTaTFactor);
            setup.count = 2;
        }
        return setup;
    }
    // Blend graph in stage 0: its alpha plus or minus the factor's; the colour comes from the
    // drawn texture in a later stage.
    setup.stages[0] = Stage(nullptr, 0, kTopAdd, kTaTexture, kTaTFactor, kTopSelectArg1, kTaDiffuse, kTaDiffuse);
    if (t == 1) {
        // A stage without texture carries the vertex alpha (and the ramp's scale) before the
        // texture's own alpha is multiplied in.
        setup.stages[1] = Stage(nullptr, -1, kTopModulate, kTaCurrent, kTaDiffuse, kTopSelectArg1, kTaCurrent,
                                kTaDiffuse);
        setup.stages[2] = Stage(nullptr, 1, kTopModulate, kTaTexture, kTaCurrent, colorOp, kTaTexture, kTaDiffuse);
        setup.count = 3;
    } else {
        setup.stages[1] = Stage(nullptr, 1, kTopModulate, kTaCurrent, kTaDiffuse, colorOp, kTaTexture, kTaDiffuse);
        setup.count = 2;
    }
    return setup;
}

StageSetup s_setups[72];
bool s_setupsBuilt = false;

void SendRenderState(int32_t* cached, uint32_t state, int32_t value)
{
    if (g_deviceCache.force || *cached != value) {
        CurrentDeviceCalls()->setRenderState(state, static_cast<uint32_t>(value));
        *cached = value;
    }
}

// A blend factor or operation: -1 leaves the state, except that forcing re-sends what is cached.
void SendBlendState(int32_t* cached, uint32_t state, int32_t value)
{
    if (value == -1) {
        if (g_deviceCache.force && *cached > 1) {
            CurrentDeviceCalls()->setRenderState(state, static_cast<uint32_t>(*cached));
        }
        return;
    }
    SendRenderState(cached, state, value);
}

void BindStageTexture(int32_t stage, void* texture)
{
    DrawStageEntry& cached = g_deviceCache.stages[stage];
    if (g_deviceCache.force || cached.texture != texture) {
        CurrentDeviceCalls()->setTexture(static_cast<uint32_t>(stage), texture);
        cached.texture = texture;
    }
}

void SendStageOp(uint16_t* cached, int32_t stage, uint32_t type, uint16_t value)
{
    if (value == kLeave) {
        return;
    }
    if (g_deviceCache.force || *cached != value) {
        CurrentDeviceCalls()->setTextureStageState(static_cast<uint32_t>(stage), type, value);
        *cached = value;
    }
}

void SendStage(int32_t i, const DrawStageEntry& e, int32_t texturesOnly)
{
    DrawStageEntry& cached = g_deviceCache.stages[i];
    BindStageTexture(i, e.texture);
    if (e.texCoordIndex != -1 && (g_deviceCache.force || cached.texCoordIndex != e.texCoordIndex)) {
        CurrentDeviceCalls()->setTextureStageState(static_cast<uint32_t>(i), kTssTexCoordIndex,
                                                   static_cast<uint32_t>(e.texCoordIndex));
        cached.texCoordIndex = e.texCoordIndex;
    }
    if (texturesOnly) {
        return;
    }
    SendStageOp(&cached.alphaArg1, i, kTssAlphaArg1, e.alphaArg1);
    SendStageOp(&cached.alphaArg2, i, kTssAlphaArg2, e.alphaArg2);
    SendStageOp(&cached.alphaOp, i, kTssAlphaOp, e.alphaOp);
    SendStageOp(&cached.colorArg1, i, kTssColorArg1, e.colorArg1);
    SendStageOp(&cached.colorArg2, i, kTssColorArg2, e.colorArg2);
    SendStageOp(&cached.colorOp, i, kTssColorOp, e.colorOp);
}

// Switches the batch to a vertex kind; what is batched is drawn first.
void UseBatchKind(int32_t kind)
{
    if (g_vertexBatch.kind == kind) {
        return;
    }
    FlushVertexBatch();
    g_vertexBatch.kind = kind;
    g_vertexBatch.count = 0;
    g_vertexBatch.cursor = BatchBuffer(kind);
}

// Sends a complete set-up: header states, then the stages in use and the terminating stage.
void SendDescriptor(const DrawStateDescriptor& d, int32_t texturesOnly)
{
    DeviceStateCache& c = g_deviceCache;
    int32_t count = d.stageCount < 0 ? 0 : d.stageCount > 8 ? 8 : d.stageCount;
    const int32_t inUse = count < 8 ? count + 1 : 8;
    if (inUse != c.stagesInUse) {
        c.stagesInUse = inUse;
        SetSamplerFilterMode(c.filterMode);
        SetMaxAnisotropy(c.maxAnisotropy);
    }
    SendRenderState(&c.alphaFunc, kRsAlphaFunc, d.alphaFunc);
    SendRenderState(&c.alphaRef, kRsAlphaRef, d.alphaRef);
    SendRenderState(&c.alphaTestEnable, kRsAlphaTestEnable, d.alphaTestEnable);
    SendRenderState(&c.alphaBlendEnable, kRsAlphaBlendEnable, d.alphaBlendEnable);
    int32_t factor = static_cast<int32_t>(c.textureFactor);
    SendRenderState(&factor, kRsTextureFactor, static_cast<int32_t>(d.textureFactor));
    c.textureFactor = static_cast<uint32_t>(factor);
    SendBlendState(&c.srcBlend, kRsSrcBlend, d.srcBlend);
    SendBlendState(&c.destBlend, kRsDestBlend, d.destBlend);
    SendBlendState(&c.blendOp, kRsBlendOp, d.blendOp);
    for (int32_t i = 0; i < inUse; ++i) {
        const DrawStageEntry e = i < count ? d.stages[i] : Terminator();
        if (i >= 2 && !texturesOnly && c.stages[i - 1].alphaOp == kTopDisable) {
            break;
        }
        SendStage(i, e, texturesOnly);
    }
}

// Stage textures in the stage-0 / blend layout of ApplyDrawModeStates.
void RebindTextures()
{
    const DeviceStateCache& c = g_deviceCache;
    if (c.blendTexture == nullptr) {
        BindStageTexture(0, c.texture);
        return;
    }
    BindStageTexture(c.textureAlpha ? 2 : 1, c.texture);
}

}  // namespace

const StageSetup* StageSetupFor(int32_t k, int32_t c, int32_t v, int32_t t)
{
    if (k < 0 || k > 2 || c < 0 || c > 3 || v < 0 || v > 1 || t < 0 || t > 2) {
        return nullptr;
    }
    if (!s_setupsBuilt) {
        for (int32_t kk = 0; kk < 3; ++kk) {
            for (int32_t cc = 0; cc < 4; ++cc) {
                for (int32_t vv = 0; vv < 2; ++vv) {
                    for (int32_t tt = 0; tt < 3; ++tt) {
                        s_setups[tt + 3 * (vv + 2 * (cc + 4 * kk))] = BuildStageSetup(kk, cc, vv, tt);
                    }
                }
            }
        }
        s_setupsBuilt = true;
    }
    return &s_setups[t + 3 * (v + 2 * (c + 4 * k))];
}

int32_t ApplyDrawModeStates(const DrawStateDescriptor* descriptor, int32_t handles, int32_t texturesOnly)
{
    const DeviceCalls* device = CurrentDeviceCalls();
    if (device == nullptr) {
        return -1;
    }
    DeviceStateCache& c = g_deviceCache;
    FlushVertexBatch();
    if (descriptor == nullptr && c.descriptorInUse) {
        descriptor = &c.descriptor;
        texturesOnly = c.descriptorTexturesOnly;
    }
    if (descriptor != nullptr) {
        DrawStateDescriptor d = *descriptor;
        for (int32_t i = 0; i < 8; ++i) {
            if (handles) {
                const auto graph = static_cast<int32_t>(reinterpret_cast<intptr_t>(d.stages[i].texture));
                d.stages[i].texture = GraphFirstTexture(graph);
            }
        }
        c.blendDirty = 0;
        c.textureDirty = 0;
        SendDescriptor(d, texturesOnly);
        return 0;
    }
    if (!c.force && !c.blendDirty) {
        if (c.textureDirty) {
            RebindTextures();
            c.textureDirty = 0;
        }
        return 0;
    }
    c.blendDirty = 0;
    c.textureDirty = 0;
    const BlendMode mode = c.blendMode;
    if (mode < 0 || mode >= kBlendModeCount) {
        // A mode the mapping has no row for draws nothing.
        c.skipDraw = 1;
        return 0;
    }
    c.skipDraw = 0;
    const BlendFactorRow& row = kBlendFactorTable[mode];
    const bool blending = mode != kBlendModeNone && mode != kBlendModeNoneAlt;
    DrawStateDescriptor d{};
    d.srcBlend = row.srcBlend;
    d.destBlend = row.destBlend;
    d.blendOp = row.blendOp;
    if (mode == kBlendModeSubtract && g_deviceBlendOpCapable) {
        d.srcBlend = kBlendSrcAlpha;
        d.destBlend = kBlendOne;
        d.blendOp = kBlendOpRevSubtract;
    }
    d.textureFactor = 0xFFFFFFFF;
    d.alphaFunc = c.alphaFunc == -1 ? static_cast<int32_t>(kCmpGreater) : c.alphaFunc;
    d.alphaRef = c.alphaRef == -1 ? 0 : c.alphaRef;
    if (c.texture == nullptr) {
        DrawStageEntry stage;
        if (mode == kBlendModeSubtract) {
            stage = Stage(nullptr, -1, kTopSelectArg1, kTaDiffuse, kTaDiffuse, kTopSelectArg1, kTaDiffuse, kTaDiffuse);
        } else if (row.stageKind == 1) {
            stage = Stage(nullptr, -1, kTopSelectArg1, kTaDiffuse, kTaDiffuse, kTopBlendDiffuseAlpha, kTaDiffuse,
                          kTaTFactor);
        } else {
            const uint32_t arg = kTaDiffuse | (row.stageKind == 2 ? kTaComplement : 0u);
            stage = Stage(nullptr, -1, kTopSelectArg1, kTaDiffuse, kTaDiffuse, kTopSelectArg1, arg, kTaDiffuse);
        }
        d.stageCount = 1;
        d.stages[0] = stage;
        d.alphaTestEnable = 0;
        d.alphaBlendEnable = blending ? 1 : 0;
        UseBatchKind(0);
        SendDescriptor(d, 0);
        return 0;
    }
    const int32_t alphaClass = c.textureAlpha                                                     ? 1
                               : (c.textureAlphaTest || (c.zEnable && c.blendTexture == nullptr)) ? 2
                                                                                                  : 0;
    if (c.blendTexture == nullptr) {
        const StageSetup* setup = StageSetupFor(row.stageKind, c.useVertexColor ? 1 : 0, c.useVertexAlpha ? 1 : 0,
                                                alphaClass);
        d.stageCount = setup->count;
        std::memcpy(d.stages, setup->stages, sizeof(d.stages));
        d.stages[0].texture = c.texture;
        if (c.textureAlphaTest) {
            d.alphaTestEnable = 1;
            d.alphaRef = 16;
            d.alphaFunc = kCmpGreater;
        } else if (c.zEnable) {
            d.alphaTestEnable = 1;
            d.alphaRef = 0;
            d.alphaFunc = kCmpGreater;
        } else {
            d.alphaTestEnable = 0;
        }
        if (c.textureAlpha && (mode == kBlendModeNone || mode == kBlendModeNoneAlt)) {
            d.srcBlend = kBlendSrcAlpha;
            d.destBlend = kBlendInvSrcAlpha;
        }
        d.alphaBlendEnable = c.textureAlpha || blending ? 1 : 0;
        UseBatchKind(1);
        SendDescriptor(d, 0);
        return 0;
    }
    const StageSetup* setup = StageSetupFor(0, (c.useVertexColor ? 1 : 0) + 2, c.useVertexAlpha ? 1 : 0, alphaClass);
    d.stageCount = setup->count;
    std::memcpy(d.stages, setup->stages, sizeof(d.stages));
    d.stages[0].texture = c.blendTexture;
    d.stages[alphaClass == 1 ? 2 : 1].texture = c.texture;
    if (mode == kBlendModeNone || mode == kBlendModeNoneAlt) {
        d.srcBlend = kBlendSrcAlpha;
        d.destBlend = kBlendInvSrcAlpha;
    }
    const int32_t p = c.blendBorderPos < 0 ? 0 : c.blendBorderPos;
    const int32_t r = c.blendBorderRange;
    if (r <= 1) {
        // A hard threshold: drawn exactly where the blend graph's alpha reaches the position.
        // The last position hides everything, as the soft ramp and the software renderer's
        // mask table have it there: no alpha passes a test of greater than 255.
        d.alphaTestEnable = 1;
        d.alphaFunc = p == 255 ? kCmpGreater : kCmpGreaterEqual;
        d.alphaRef = p == 0 && (c.textureAlpha || c.textureAlphaTest) ? 1 : p;
        d.alphaBlendEnable = 0;
        d.textureFactor = 0x00FFFFFF;
    } else {
        // A soft ramp: stage 0 shifts the blend graph's alpha, stage 1 scales it.
        const int32_t T = r <= 64 ? 1280 : r <= 128 ? 768 : 512;
        const uint16_t scale = static_cast<uint16_t>(r <= 64    ? kTopModulate4x
                                                     : r <= 128 ? kTopModulate2x
                                                                : kTopModulate);
        const int32_t m = r <= 64 ? 64 : r <= 128 ? 128 : 255;
        const int32_t t = T - (p * T) / 255;
        int32_t alpha = 0;
        if (t < T - 256) {
            d.stages[0].alphaOp = kTopSubtract;
            alpha = 255 - (t * 255) / (T - 256);
        } else {
            d.stages[0].alphaOp = kTopAdd;
            alpha = ((t - (T - 256)) * m) / 256;
        }
        d.stages[1].alphaOp = scale;
        d.alphaTestEnable = 0;
        d.alphaBlendEnable = 1;
        d.textureFactor = static_cast<uint32_t>(alpha & 0xFF) << 24 | 0xFFFFFF;
    }
    UseBatchKind(2);
    SendDescriptor(d, 0);
    return 0;
}

int32_t SetDrawStateDescriptor(const DrawStateDescriptor* descriptor, int32_t texturesOnly)
{
    DeviceStateCache& c = g_deviceCache;
    if (descriptor == nullptr) {
        c.descriptorInUse = 0;
        c.blendDirty = 1;
        c.textureDirty = 1;
        return 0;
    }
    c.descriptor = *descriptor;
    c.descriptorTexturesOnly = texturesOnly;
    c.descriptorInUse = 1;
    c.blendDirty = 1;
    c.textureDirty = 1;
    ApplyDrawModeStates(nullptr, 1, texturesOnly);
    return 0;
}

int32_t ApplyDrawStateDescriptor(const DrawStateDescriptor* descriptor, int32_t texturesOnly, int32_t handles)
{
    FlushVertexBatch();
    ApplyDrawModeStates(descriptor, handles, texturesOnly);
    g_deviceCache.blendDirty = 1;
    g_deviceCache.textureDirty = 1;
    return 0;
}

int32_t PrepareDrawStates(const TextureFormatRequest* request, void* texture, uint32_t flags)
{
    if (CurrentDeviceCalls() == nullptr) {
        return -1;
    }
    const DrawSettings& s = g_drawSettings;
    DeviceStateCache& c = g_deviceCache;
    // Lights arrive with the 3-D pipeline; the 2-D path draws unlit.
    SetLightingState((flags & 0x200) != 0 && !s.lightingOff ? 1 : 0);
    SetSpecularEnable((flags & 0x400) != 0 && !s.specularOff ? 1 : 0);
    const DepthStateSet& depth = (flags & 0x800) != 0 ? s.depth3d : s.depth2d;
    if (depth.test) {
        SetZEnable(1);
        SetZWriteEnable(depth.write);
        SetZFunc(depth.compare);
        SetDepthBias(depth.bias);
    } else {
        SetZEnable(0);
    }
    SetDeviceFogEnable((flags & 0x80) != 0 ? s.fogEnable : 0);
    if ((flags & 0x100) == 0) {
        int32_t alpha = 0;
        int32_t alphaTest = 0;
        if (texture != nullptr && request != nullptr && (flags & 0x1) != 0 &&
            (request->alphaChannel || request->alphaTest)) {
            if ((s.blendMode == kBlendModeNone || s.blendMode == kBlendModeDestinationKept) &&
                ((flags & 0x2) != 0 || s.filterMode != 1)) {
                alpha = request->alphaChannel ? 1 : 0;
                alphaTest = request->alphaTest ? 1 : 0;
            } else {
                alpha = 1;  // blended by its alpha instead of alpha-tested
            }
        }
        const int32_t vertexColor = (flags & 0x20) != 0 || DrawBrightRgb(s) != 0xFFFFFF ? 1 : 0;
        const int32_t vertexAlpha = (flags & 0x40) != 0 || s.blendMode != kBlendModeNone ? 1 : 0;
        if (vertexColor != c.useVertexColor || vertexAlpha != c.useVertexAlpha || s.blendMode != c.blendMode ||
            alpha != c.textureAlpha || alphaTest != c.textureAlphaTest) {
            FlushVertexBatch();
            c.useVertexColor = vertexColor;
            c.useVertexAlpha = vertexAlpha;
            c.blendMode = s.blendMode;
            c.textureAlpha = alpha;
            c.textureAlphaTest = alphaTest;
            c.blendDirty = 1;
        }
        SetDrawTexture(texture);
        if (c.blendDirty || c.textureDirty) {
            ApplyDrawModeStates(nullptr, 1, 0);
        }
    }
    SetShadeMode((flags & 0x8) != 0 ? kShadeGouraud : kShadeFlat);
    SetSamplerFilterMode(s.filterMode);
    SetMaxAnisotropy(s.maxAnisotropy);
    SetCullMode(s.cullMode);
    if ((flags & 0x1000) == 0) {
        for (int32_t i = 0; i < 4; ++i) {
            SetSamplerAddressU(i, 3);
            SetSamplerAddressV(i, 3);
        }
    } else {
        for (int32_t i = 0; i < 8; ++i) {
            SetSamplerAddressU(i, s.addressU[i]);
            SetSamplerAddressV(i, s.addressV[i]);
        }
    }
    c.lastFlags = static_cast<int32_t>(flags);
    return 0;
}

void* GraphFirstTexture(int32_t handle)
{
    const GraphRecord* graph = FindGraphRecord(handle);
    const TextureTile* tile = graph != nullptr ? FirstPieceTile(graph) : nullptr;
    if (tile == nullptr) {
        return nullptr;
    }
    return tile->texture;
}

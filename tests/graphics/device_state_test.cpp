// The hardware renderer's device-independent half against a recording device: the texture
// formats chosen over a fake format check, the state cache, the vertex batch and the blend
// mapping.
#include <gtest/gtest.h>

#include <cstring>
#include <set>
#include <string>
#include <vector>

#include "quarn/graphics/d3d9/device_reapply.h"
#include "quarn/graphics/d3d9/device_state.h"
#include "quarn/graphics/draw_settings.h"
#include "quarn/graphics/graph.h"
#include "quarn/graphics/graphics.h"
#include "tests/core/log_capture.h"

namespace {

// ---- A device that records every call

enum CallKind {
    kRender,
    kSampler,
    kStage,
    kTexture,
    kTransform,
    kViewport,
    kScissor,
    kFvf,
    kDraw,
    kDrawIndexed,
    kBegin,
    kEnd,
    kTarget,
    kShaders
};

struct Call {
    CallKind kind;
    uint32_t a, b, c;
};

std::vector<Call> s_calls;
int32_t s_viewportResult = 0;

int32_t RecRender(uint32_t s, uint32_t v)
{
    s_calls.push_back({kRender, s, v, 0});
    return 0;
}
int32_t RecSampler(uint32_t i, uint32_t t, uint32_t v)
{
    s_calls.push_back({kSampler, i, t, v});
    return 0;
}
int32_t RecStage(uint32_t i, uint32_t t, uint32_t v)
{
    s_calls.push_back({kStage, i, t, v});
    return 0;
}
int32_t RecTexture(uint32_t i, void*)
{
    s_calls.push_back({kTexture, i, 0, 0});
    return 0;
}
int32_t RecTransform(uint32_t w, const Matrix4x4*)
{
    s_calls.push_back({kTransform, w, 0, 0});
    return 0;
}
int32_t RecViewport(const DeviceViewport* v)
{
    s_calls.push_back({kViewport, v->x, v->width, v->height});
    return s_viewportResult;
}
int32_t RecScissor(const PixelRect*)
{
    s_calls.push_back({kScissor, 0, 0, 0});
    return 0;
}
int32_t RecFvf(uint32_t f)
{
    s_calls.push_back({kFvf, f, 0, 0});
    return 0;
}
int32_t RecDraw(uint32_t t, uint32_t n, const void*, uint32_t stride)
{
    s_calls.push_back({kDraw, t, n, stride});
    return 0;
}
int32_t RecDrawIndexed(uint32_t t, uint32_t, uint32_t n, const uint16_t*, const void*, uint32_t)
{
    s_calls.push_back({kDrawIndexed, t, n, 0});
    return 0;
}
int32_t RecBegin()
{
    s_calls.push_back({kBegin, 0, 0, 0});
    return 0;
}
int32_t RecEnd()
{
    s_calls.push_back({kEnd, 0, 0, 0});
    return 0;
}
int32_t RecTarget(void*, uint32_t* w, uint32_t* h)
{
    *w = 64;
    *h = 32;
    s_calls.push_back({kTarget, 0, 0, 0});
    return 0;
}
int32_t RecShaders()
{
    s_calls.push_back({kShaders, 0, 0, 0});
    return 0;
}

// The state cache makes no light, material, shader-constant or buffer calls; those stay empty.
const DeviceCalls kRecorder = [] {
    DeviceCalls calls{};
    calls.setRenderState = RecRender;
    calls.setSamplerState = RecSampler;
    calls.setTextureStageState = RecStage;
    calls.setTexture = RecTexture;
    calls.setTransform = RecTransform;
    calls.setViewport = RecViewport;
    calls.setScissorRect = RecScissor;
    calls.setFvf = RecFvf;
    calls.drawPrimitiveUp = RecDraw;
    calls.drawIndexedPrimitiveUp = RecDrawIndexed;
    calls.beginScene = RecBegin;
    calls.endScene = RecEnd;
    calls.setRenderTarget = RecTarget;
    calls.unbindShaders = RecShaders;
    return calls;
}();

size_t CountRender(uint32_t state)
{
    size_t n = 0;
    for (const Call& c : s_calls) {
        n += c.kind == kRender && c.a == state ? 1 : 0;
    }
    return n;
}

const Call* LastRender(uint32_t state)
{
    const Call* found = nullptr;
    for (const Call& c : s_calls) {
        if (c.kind == kRender && c.a == state) {
            found = &c;
        }
    }
    return found;
}

std::vector<Call> CallsOf(CallKind kind)
{
    std::vector<Call> out;
    for (const Call& c : s_calls) {
        if (c.kind == kind) {
            out.push_back(c);
        }
    }
    return out;
}

// A started device (as after graphics start-up on a 640 x 480 screen) with the calls of the
// start forgotten.
class DeviceCacheTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        g_screenSettings = ScreenSettings{};
        ApplyDrawSettingDefaults();
        g_deviceBlendOpCapable = 0;
        s_viewportResult = 0;
        UseDeviceCalls(&kRecorder);
        ASSERT_EQ(InitDeviceSettings(640, 480, nullptr), 0);
        FlushVertexBatch();
        s_calls.clear();
    }
    void TearDown() override
    {
        UseDeviceCalls(nullptr);
        s_calls.clear();
    }
};

// Untextured vertices of kind 0: x, y, z, rhw, colour.
std::vector<uint8_t> Vertices(int32_t count) { return std::vector<uint8_t>(static_cast<size_t>(count) * 20, 0); }

// ---- Texture formats

struct FormatFake {
    std::set<uint32_t> refused;
    std::vector<std::pair<uint32_t, uint32_t>> asked;  // usage, format
};

int32_t FakeCheck(uint32_t usage, uint32_t format, void* context)
{
    auto* fake = static_cast<FormatFake*>(context);
    fake->asked.emplace_back(usage, format);
    return fake->refused.count(format) ? 0 : 1;
}

TEST(TextureFormatTable, EveryFormatAvailableGivesTheFirstCandidates)
{
    FormatFake fake;
    uint32_t table[16] = {};
    ASSERT_EQ(FillTextureFormatTable(FakeCheck, &fake, kFmtX8R8G8B8, 32, table), 0);
    const uint32_t expected[16] = {kFmtR5G6B5,   kFmtX8R8G8B8, kFmtA4R4G4B4, kFmtA8R8G8B8, kFmtA1R5G5B5, kFmtA8R8G8B8,
                                   kFmtDxt1,     kFmtDxt2,     kFmtDxt3,     kFmtDxt4,     kFmtDxt5,     kFmtX1R5G5B5,
                                   kFmtX8R8G8B8, kFmtA8R8G8B8, kFmtX8R8G8B8, kFmtA8R8G8B8};
    for (int i = 0; i < 16; ++i) {
        EXPECT_EQ(table[i], expected[i]) << "entry " << i;
    }
    // Render-target entries are asked with the render-target usage, the others without.
    for (const auto& [usage, format] : fake.asked) {
        (void)format;
        EXPECT_TRUE(usage == 0 || usage == kUsageRenderTarget);
    }
    EXPECT_EQ(fake.asked.back().first, kUsageRenderTarget);
    EXPECT_EQ(fake.asked.front().first, 0u);
}

TEST(TextureFormatTable, FallbacksAndTheirLines)
{
    struct Case {
        std::set<uint32_t> refused;
        uint32_t backBuffer;
        int32_t bits;
        int entry;
        uint32_t chosen;
        const wchar_t* line;
    };
    const Case cases[] = {
        // Missing DXT3: the 32-bit colour with alpha stands in.
        {{kFmtDxt3}, kFmtX8R8G8B8, 32, 8, kFmtA8R8G8B8, L"ＤＸＴ３テクスチャフォーマットは使えません"},
        // Missing DXT1: the alpha-test 16-bit entry.
        {{kFmtDxt1}, kFmtX8R8G8B8, 32, 6, kFmtA1R5G5B5, L"ＤＸＴ１テクスチャフォーマットは使えません"},
        // An X1R5G5B5 back buffer tries its own 16-bit kind first.
        {{}, kFmtX1R5G5B5, 16, 11, kFmtX1R5G5B5, L"描画用 16bit カラーフォーマットは Q_D3DFMT_R5G5B5 です"},
        {{kFmtX1R5G5B5}, kFmtX1R5G5B5, 16, 11, kFmtR5G6B5, L"描画用 16bit カラーフォーマットは Q_D3DFMT_R5G6B5 です"},
        {{}, kFmtR5G6B5, 16, 11, kFmtR5G6B5, L"描画用 16bit カラーフォーマットは D3DFMT_R5G6B5 です"},
        // A 16-bit screen's screen-depth entries copy the 16-bit ones.
        {{}, kFmtR5G6B5, 16, 14, kFmtR5G6B5, L""},
        {{}, kFmtR5G6B5, 16, 15, kFmtA1R5G5B5, L""},
        // No X8R8G8B8: the 32-bit colour entry takes the 16-bit one and its name.
        {{kFmtX8R8G8B8}, kFmtR5G6B5, 16, 1, kFmtR5G6B5, L"32bit カラーフォーマットは Q_D3DFMT_R5G6B5 です"},
    };
    for (const Case& c : cases) {
        LogCapture log;
        FormatFake fake{c.refused, {}};
        uint32_t table[16] = {};
        ASSERT_EQ(FillTextureFormatTable(FakeCheck, &fake, c.backBuffer, c.bits, table), 0) << "entry " << c.entry;
        EXPECT_EQ(table[c.entry], c.chosen) << "entry " << c.entry;
        EXPECT_TRUE(log.Contains(c.line)) << "entry " << c.entry;
    }
}

TEST(TextureFormatTable, EachRequiredEntryWithoutAFormatFailsWithItsLine)
{
    struct Case {
        std::set<uint32_t> refused;
        const wchar_t* line;
    };
    const Case cases[] = {
        {{kFmtR5G6B5, kFmtX1R5G5B5}, L"使用できる 16bit カラーフォーマットが見つかりませんでした\n"},
        {{kFmtA4R4G4B4, kFmtA8R8G8B8}, L"使用できるアルファ付き 16bit カラーフォーマットが見つかりませんでした\n"},
    };
    for (const Case& c : cases) {
        LogCapture log;
        FormatFake fake{c.refused, {}};
        uint32_t table[16] = {};
        EXPECT_EQ(FillTextureFormatTable(FakeCheck, &fake, kFmtX8R8G8B8, 32, table), -1);
        EXPECT_TRUE(log.Contains(c.line));
    }
}

// A check that refuses formats only for the entries after the first n queries, to reach the
// later "none passes" lines, which the earlier entries would otherwise take first.
struct CountingFake {
    int32_t queries;
    int32_t refuseFrom;
    std::set<uint32_t> refused;
};

int32_t CountingCheck(uint32_t, uint32_t format, void* context)
{
    auto* fake = static_cast<CountingFake*>(context);
    const int32_t index = fake->queries++;
    return index >= fake->refuseFrom && fake->refused.count(format) ? 0 : 1;
}

TEST(TextureFormatTable, LaterRequiredEntriesFailWithTheirOwnLines)
{
    struct Case {
        int32_t refuseFrom;  // queries before this one all pass (entries 0, 1, ... take one each)
        const wchar_t* line;
    };
    const std::set<uint32_t> alphaFormats{kFmtA8R8G8B8, kFmtA4R4G4B4, kFmtA1R5G5B5};
    const Case cases[] = {
        {3, L"使用できるアルファ付き 32bit カラーフォーマットが見つかりませんでした\n"},
        {4, L"使用できるアルファテスト用 16bit カラーフォーマットが見つかりませんでした\n"},
        {5, L"使用できるアルファテスト用 32bit カラーフォーマットが見つかりませんでした\n"},
    };
    for (const Case& c : cases) {
        LogCapture log;
        CountingFake fake{0, c.refuseFrom, alphaFormats};
        uint32_t table[16] = {};
        EXPECT_EQ(FillTextureFormatTable(CountingCheck, &fake, kFmtX8R8G8B8, 32, table), -1);
        EXPECT_TRUE(log.Contains(c.line)) << c.refuseFrom;
    }
    // Render-target entries 11 and 12 without a format: unknown, and the table still stands.
    LogCapture log;
    CountingFake fake{0, 11, {kFmtX8R8G8B8, kFmtR5G6B5, kFmtX1R5G5B5}};
    uint32_t table[16] = {};
    ASSERT_EQ(FillTextureFormatTable(CountingCheck, &fake, kFmtX8R8G8B8, 32, table), 0);
    EXPECT_EQ(table[11], kFmtUnknown);
    EXPECT_EQ(table[12], kFmtUnknown);
    EXPECT_EQ(table[14], kFmtUnknown);
    EXPECT_TRUE(log.Contains(L"使用できる描画用 16bit カラーフォーマットがありませんでした\n"));
    EXPECT_TRUE(log.Contains(L"使用できる描画用 32bit カラーフォーマットがありませんでした\n"));
    // Entry 13 likewise (its queries start after the 13 of entries 0 to 12).
    LogCapture log13;
    CountingFake fake13{0, 13, alphaFormats};
    ASSERT_EQ(FillTextureFormatTable(CountingCheck, &fake13, kFmtX8R8G8B8, 32, table), 0);
    EXPECT_EQ(table[13], kFmtUnknown);
    EXPECT_TRUE(log13.Contains(L"使用できる描画用アルファ付き 32bit カラーフォーマットがありませんでした\n"));
}

TEST(TextureFormatTable, SizesAndDescriptors)
{
    uint32_t width = 0;
    uint32_t height = 2048;
    EXPECT_EQ(MaxTextureSizeFromCaps(&width, &height), 256);
    EXPECT_EQ(width, 256u);
    width = 4096;
    height = 2048;
    EXPECT_EQ(MaxTextureSizeFromCaps(&width, &height), 2048);

    EXPECT_EQ(DepthBufferSide(640), 1024);
    EXPECT_EQ(DepthBufferSide(480), 512);
    EXPECT_EQ(DepthBufferSide(512), 512);
    EXPECT_EQ(DepthBufferSide(1), 1);
    EXPECT_EQ(DepthBufferSide(0), 1);

    EXPECT_EQ(GetTextureColorFormat(14), nullptr);
    EXPECT_EQ(GetTextureColorFormat(-1), nullptr);
    EXPECT_EQ(GetDisplayFormatColorFormat(28), nullptr);
    const ColorFormat* argb4444 = GetTextureColorFormat(2);
    ASSERT_NE(argb4444, nullptr);
    EXPECT_EQ(argb4444->alphaMask, 0xF000u);
    const ColorFormat* dxt3 = GetTextureColorFormat(8);
    EXPECT_EQ(dxt3->bitDepth, 8);
    EXPECT_EQ(dxt3->compression, 3u);
    EXPECT_EQ(GetTextureColorFormat(6)->bitDepth, 4);
    const ColorFormat* abgr = GetDisplayFormatColorFormat(kFmtA8B8G8R8);
    ASSERT_NE(abgr, nullptr);
    EXPECT_EQ(abgr->redMask, 0xFFu);
    EXPECT_EQ(abgr->alphaMask, 0xFF000000u);
    // Requests pick by kind: a render target with alpha is kind 13, a 16-bit alpha test kind 4.
    EXPECT_EQ(PickTextureFormat(1, 0, 1, 1), GetTextureColorFormat(13));
    EXPECT_EQ(PickTextureFormat(0, 1, 0, 0), GetTextureColorFormat(4));
    EXPECT_EQ(PickTextureFormat(0, 0, 0, 0), GetTextureColorFormat(0));
}

// ---- The state cache

TEST_F(DeviceCacheTest, AStateIsSentOnlyWhenItChangesOrIsForced)
{
    EXPECT_EQ(SetZFunc(4), 0);  // the start-up value
    EXPECT_EQ(CountRender(kRsZFunc), 0u);
    SetZFunc(3);
    SetZFunc(3);
    EXPECT_EQ(CountRender(kRsZFunc), 1u);
    g_deviceCache.force = 1;
    SetZFunc(3);
    SetZFunc(3);
    g_deviceCache.force = 0;
    EXPECT_EQ(CountRender(kRsZFunc), 3u);

    s_calls.clear();
    SetCullMode(1);
    ASSERT_NE(LastRender(kRsCullMode), nullptr);
    EXPECT_EQ(LastRender(kRsCullMode)->b, kCullCcw);
    SetCullMode(2);
    EXPECT_EQ(LastRender(kRsCullMode)->b, kCullCw);
    SetCullMode(0);
    EXPECT_EQ(LastRender(kRsCullMode)->b, kCullNone);

    s_calls.clear();
    EXPECT_EQ(SetSamplerAddressU(8, 1), -1);
    EXPECT_TRUE(s_calls.empty());
    // -1 sets all eight, from 7 down, and is skipped once all hold the value.
    EXPECT_EQ(SetSamplerAddressU(-1, 1), 0);
    const auto samplers = CallsOf(kSampler);
    ASSERT_EQ(samplers.size(), 8u);
    EXPECT_EQ(samplers.front().a, 7u);
    EXPECT_EQ(samplers.back().a, 0u);
    s_calls.clear();
    SetSamplerAddressU(-1, 1);
    EXPECT_TRUE(s_calls.empty());

    // A texture transform never enabled and not enabled now sends nothing.
    Matrix4x4 identity;
    SetIdentityMatrix4x4(&identity);
    SetTextureTransform(3, 0, &identity);
    EXPECT_TRUE(s_calls.empty());
}

TEST_F(DeviceCacheTest, WithoutADeviceNothingIsSentOrCached)
{
    UseDeviceCalls(nullptr);
    EXPECT_EQ(SetZFunc(7), -1);
    EXPECT_EQ(SetSamplerFilterMode(1), -1);
    EXPECT_EQ(SetCullMode(1), 0);
    EXPECT_EQ(FlushVertexBatch(), -1);
    EXPECT_EQ(ApplyDrawModeStates(nullptr, 1, 0), -1);
    EXPECT_EQ(ReapplyAllDeviceStates(), -1);
    EXPECT_TRUE(s_calls.empty());
    EXPECT_EQ(g_deviceCache.zFunc, static_cast<int32_t>(kCmpLessEqual));
}

TEST_F(DeviceCacheTest, AFailedViewportKeepsTheOldOneAndIsLogged)
{
    LogCapture log;
    s_viewportResult = static_cast<int32_t>(0x8876086C);
    EXPECT_EQ(SetViewportRect(10, 10, 20, 20), -1);
    EXPECT_EQ(g_deviceCache.viewport.width, 640u);
    EXPECT_TRUE(log.Contains(L"ビューポートのセットに失敗しました ErrorCode 8876086c"));
    s_viewportResult = 0;
    EXPECT_EQ(SetViewportRect(10, 10, 20, 20), 0);
    EXPECT_EQ(g_deviceCache.viewport.width, 10u);
    // Only position and size are compared.
    s_calls.clear();
    DeviceViewport same = g_deviceCache.viewport;
    same.maxZ = 0.5f;
    SetViewportCached(&same);
    EXPECT_TRUE(CallsOf(kViewport).empty());
}

TEST_F(DeviceCacheTest, ReapplyAllResendsEveryCachedState)
{
    SetZFunc(3);
    SetCullMode(2);
    SetSamplerAddressV(5, 1);
    SetDeviceFogColor(0xFF102030);
    s_calls.clear();
    // The restarted device holds nothing: every cached value goes out again, equal or not.
    ASSERT_EQ(ReapplyAllDeviceStates(), 0);
    EXPECT_EQ(g_deviceCache.force, 0);
    ASSERT_NE(LastRender(kRsZFunc), nullptr);
    EXPECT_EQ(LastRender(kRsZFunc)->b, 3u);
    EXPECT_EQ(LastRender(kRsCullMode)->b, kCullCw);
    EXPECT_EQ(LastRender(kRsFogColor)->b, 0xFF102030u);
    bool addressV5 = false;
    for (const Call& c : CallsOf(kSampler)) {
        addressV5 = addressV5 || (c.a == 5 && c.b == kSampAddressV && c.c == 1);
    }
    EXPECT_TRUE(addressV5);
    EXPECT_FALSE(CallsOf(kViewport).empty());
    EXPECT_FALSE(CallsOf(kScissor).empty());
    EXPECT_GE(CountRender(kRsAlphaBlendEnable), 1u);
    // And the next equal value is again skipped.
    s_calls.clear();
    SetZFunc(3);
    EXPECT_EQ(CountRender(kRsZFunc), 0u);
}

// ---- The batch

TEST(PrimitiveCount, ByType)
{
    struct Case {
        uint32_t type;
        int32_t n;
        uint32_t count;
    };
    const Case cases[] = {{kPtPointList, 5, 5},     {kPtLineList, 5, 2},      {kPtLineStrip, 5, 4},
                          {kPtTriangleList, 7, 2},  {kPtTriangleStrip, 5, 3}, {kPtTriangleFan, 4, 2},
                          {kPtTriangleStrip, 1, 0}, {kPtLineList, 0, 0},      {99, 6, 0}};
    for (const Case& c : cases) {
        EXPECT_EQ(PrimitiveCountOf(c.type, c.n), c.count) << c.type << " " << c.n;
    }
}

TEST_F(DeviceCacheTest, BatchDrawsOnFlushAndBeforeStateChanges)
{
    const auto v = Vertices(5);
    ASSERT_EQ(g_vertexBatch.kind, 0);
    ASSERT_EQ(AppendBatchVertices(kPtLineList, v.data(), 5), 0);
    EXPECT_TRUE(CallsOf(kDraw).empty());
    // A state change draws what was batched first, under the old state.
    SetZFunc(2);
    ASSERT_EQ(CallsOf(kDraw).size(), 1u);
    EXPECT_EQ(CallsOf(kDraw)[0].b, 2u);  // five vertices of a line list: two lines
    size_t drawAt = 0;
    size_t stateAt = 0;
    for (size_t i = 0; i < s_calls.size(); ++i) {
        if (s_calls[i].kind == kDraw) {
            drawAt = i;
        }
        if (s_calls[i].kind == kRender && s_calls[i].a == kRsZFunc) {
            stateAt = i;
        }
    }
    EXPECT_LT(drawAt, stateAt);
    // An unchanged state draws nothing.
    AppendBatchVertices(kPtLineList, v.data(), 4);
    SetZFunc(2);
    EXPECT_EQ(CallsOf(kDraw).size(), 1u);
    // A new primitive type draws the held ones first.
    AppendBatchVertices(kPtPointList, v.data(), 1);
    EXPECT_EQ(CallsOf(kDraw).size(), 2u);
    // Closing the scene for a viewport change draws the batch before the scene ends.
    SetViewportRect(0, 0, 100, 100);
    EXPECT_EQ(CallsOf(kDraw).size(), 3u);
    EXPECT_EQ(s_calls.back().kind, kViewport);
    EXPECT_EQ(g_deviceCache.inScene, 0);
}

TEST_F(DeviceCacheTest, BatchFlushesAtItsLimits)
{
    const int32_t capacity = kBatchCapacity[0];
    const auto six = Vertices(6);
    // Triangle lists keep one vertex spare: the batch is drawn before count + 6 reaches it.
    int32_t appended = 0;
    while (CallsOf(kDraw).empty()) {
        ASSERT_EQ(AppendBatchVertices(kPtTriangleList, six.data(), 6), 0);
        appended += 6;
        ASSERT_LT(appended, capacity + 12);
    }
    const int32_t held = static_cast<int32_t>(CallsOf(kDraw)[0].b) * 3;
    EXPECT_EQ(held + 6, appended);
    EXPECT_LT(held, capacity);
    EXPECT_GE(held + 6, capacity);
    FlushVertexBatch();
    s_calls.clear();
    // Points fill the buffer exactly.
    const auto one = Vertices(1);
    for (int32_t i = 0; i < capacity; ++i) {
        AppendBatchVertices(kPtPointList, one.data(), 1);
    }
    EXPECT_TRUE(CallsOf(kDraw).empty());
    AppendBatchVertices(kPtPointList, one.data(), 1);
    ASSERT_EQ(CallsOf(kDraw).size(), 1u);
    EXPECT_EQ(CallsOf(kDraw)[0].b, static_cast<uint32_t>(capacity));
}

TEST_F(DeviceCacheTest, QuitOrSkipDropsTheBatch)
{
    const auto v = Vertices(3);
    AppendBatchVertices(kPtTriangleList, v.data(), 3);
    g_deviceCache.skipDraw = 1;
    FlushVertexBatch();
    g_deviceCache.skipDraw = 0;
    EXPECT_TRUE(CallsOf(kDraw).empty());
    EXPECT_EQ(g_vertexBatch.count, 0);
    FlushVertexBatch();
    EXPECT_TRUE(CallsOf(kDraw).empty());
}

TEST_F(DeviceCacheTest, VertexGrids)
{
    std::vector<uint8_t> vertices(static_cast<size_t>(28) * 600 * 2);
    EXPECT_EQ(DrawVertexGrid(1, 5, vertices.data()), -1);
    EXPECT_EQ(DrawVertexGrid(5, 1, vertices.data()), -1);
    ASSERT_EQ(DrawVertexGrid(2, 2, vertices.data()), 0);
    auto draws = CallsOf(kDrawIndexed);
    ASSERT_EQ(draws.size(), 1u);
    EXPECT_EQ(draws[0].a, kPtTriangleStrip);
    EXPECT_EQ(draws[0].b, 2u);  // four indices: two triangles

    // Strips and their joins, and a new draw before the held indices pass 1000.
    struct Collected {
        std::vector<std::vector<uint16_t>> draws;
    } collected;
    ASSERT_EQ(BuildGridStrips(
                  3, 3,
                  [](const uint16_t* idx, int32_t n, void* ctx) {
                      static_cast<Collected*>(ctx)->draws.emplace_back(idx, idx + n);
                  },
                  &collected),
              0);
    ASSERT_EQ(collected.draws.size(), 1u);
    const std::vector<uint16_t> expected{3, 0, 4, 1, 5, 2, 2, 6, 6, 3, 7, 4, 8, 5};
    EXPECT_EQ(collected.draws[0], expected);
    collected.draws.clear();
    BuildGridStrips(
        100, 20,
        [](const uint16_t* idx, int32_t n, void* ctx) {
            static_cast<Collected*>(ctx)->draws.emplace_back(idx, idx + n);
        },
        &collected);
    ASSERT_GT(collected.draws.size(), 1u);
    for (const auto& d : collected.draws) {
        EXPECT_LE(d.size(), 1000u);
    }
}

TEST_F(DeviceCacheTest, GridsTooLargeForSixteenBitIndicesAreRefused)
{
    LogCapture log;
    auto ignore = [](const uint16_t*, int32_t, void*) {};
    // Wider rows than one draw can hold, and more vertices than 16-bit indices name.
    EXPECT_EQ(BuildGridStrips(3000, 2, ignore, nullptr), -1);
    EXPECT_EQ(BuildGridStrips(300, 300, ignore, nullptr), -1);
    EXPECT_TRUE(log.Contains(L"頂点グリッドが大きすぎます\n"));
    EXPECT_EQ(BuildGridStrips(256, 256, ignore, nullptr), 0);
}

// ---- The blend mapping

TEST(BlendTables, StageSetupsFollowTheirRule)
{
    EXPECT_EQ(StageSetupFor(3, 0, 0, 0), nullptr);
    EXPECT_EQ(StageSetupFor(0, 4, 0, 0), nullptr);
    // Texture alone, opaque: colour from the texture, alpha from the vertex.
    const StageSetup* plain = StageSetupFor(0, 0, 0, 0);
    ASSERT_EQ(plain->count, 1);
    EXPECT_EQ(plain->stages[0].colorOp, kTopSelectArg1);
    EXPECT_EQ(plain->stages[0].colorArg1, kTaTexture);
    EXPECT_EQ(plain->stages[0].alphaArg1, kTaDiffuse);
    EXPECT_EQ(plain->stages[1].colorOp, kTopDisable);
    // Vertex colour and alpha with a texture with alpha: both modulated.
    const StageSetup* tinted = StageSetupFor(0, 1, 1, 1);
    EXPECT_EQ(tinted->stages[0].colorOp, kTopModulate);
    EXPECT_EQ(tinted->stages[0].alphaOp, kTopModulate);
    EXPECT_EQ(tinted->stages[0].alphaArg1, kTaTexture);
    // Complemented colour, and the multiply blend's extra stage towards white.
    EXPECT_EQ(StageSetupFor(2, 0, 0, 0)->stages[0].colorArg1, kTaTexture | kTaComplement);
    const StageSetup* multiply = StageSetupFor(1, 0, 1, 0);
    ASSERT_EQ(multiply->count, 2);
    EXPECT_EQ(multiply->stages[1].colorOp, kTopBlendCurrentAlpha);
    EXPECT_EQ(multiply->stages[1].colorArg2, kTaTFactor);
    // Blend graph: the drawn texture in stage 1, or in stage 2 when it has alpha.
    EXPECT_EQ(StageSetupFor(0, 2, 0, 0)->stages[1].texCoordIndex, 1);
    EXPECT_EQ(StageSetupFor(0, 2, 0, 1)->stages[2].texCoordIndex, 1);
    EXPECT_EQ(StageSetupFor(0, 2, 0, 1)->count, 3);
}

TEST_F(DeviceCacheTest, BlendModesBecomeFactorsAndStages)
{
    struct Case {
        BlendMode mode;
        int32_t capable;
        uint32_t src, dest, op, blendEnable;
    };
    const Case cases[] = {
        {kBlendModeAlpha, 0, kBlendSrcAlpha, kBlendInvSrcAlpha, kBlendOpAdd, 1},
        {kBlendModeAdd, 0, kBlendSrcAlpha, kBlendOne, kBlendOpAdd, 1},
        {kBlendModeMultiply, 0, kBlendZero, kBlendSrcColor, kBlendOpAdd, 1},
        {kBlendModeSubtract, 0, kBlendInvDestColor, kBlendZero, kBlendOpAdd, 1},
        {kBlendModeSubtract, 1, kBlendSrcAlpha, kBlendOne, kBlendOpRevSubtract, 1},
        {kBlendModeReverseSubtract, 0, kBlendSrcAlpha, kBlendOne, kBlendOpRevSubtract, 1},
    };
    for (const Case& c : cases) {
        g_deviceBlendOpCapable = c.capable;
        s_calls.clear();
        SetBlendStateKey(c.mode, 0, 0);
        ASSERT_EQ(ApplyDrawModeStates(nullptr, 1, 0), 0);
        EXPECT_EQ(g_deviceCache.srcBlend, static_cast<int32_t>(c.src)) << c.mode;
        EXPECT_EQ(g_deviceCache.destBlend, static_cast<int32_t>(c.dest)) << c.mode;
        EXPECT_EQ(g_deviceCache.blendOp, static_cast<int32_t>(c.op)) << c.mode;
        EXPECT_EQ(g_deviceCache.alphaBlendEnable, static_cast<int32_t>(c.blendEnable)) << c.mode;
        EXPECT_EQ(g_vertexBatch.kind, 0);
    }
    // Mode 0 switches blending off and leaves the factors.
    s_calls.clear();
    SetBlendStateKey(kBlendModeNone, 0, 0);
    ApplyDrawModeStates(nullptr, 1, 0);
    EXPECT_EQ(LastRender(kRsAlphaBlendEnable)->b, 0u);
    EXPECT_EQ(CountRender(kRsSrcBlend), 0u);
    // A mode without a row draws nothing.
    SetBlendStateKey(static_cast<BlendMode>(40), 0, 0);
    ApplyDrawModeStates(nullptr, 1, 0);
    EXPECT_EQ(g_deviceCache.skipDraw, 1);
    SetBlendStateKey(kBlendModeNone, 0, 0);
    ApplyDrawModeStates(nullptr, 1, 0);
    EXPECT_EQ(g_deviceCache.skipDraw, 0);
    // Nothing changed: nothing sent.
    s_calls.clear();
    ApplyDrawModeStates(nullptr, 1, 0);
    EXPECT_TRUE(s_calls.empty());
}

TEST_F(DeviceCacheTest, TexturedDrawsChooseTheirAlphaHandling)
{
    int texture = 0;
    g_drawSettings.blendMode = kBlendModeAlpha;
    TextureFormatRequest request{};
    request.alphaTest = 1;
    // An alpha-tested texture drawn in mode 1 is blended by its alpha instead.
    PrepareDrawStates(&request, &texture, 0x1);
    EXPECT_EQ(g_deviceCache.textureAlpha, 1);
    EXPECT_EQ(g_deviceCache.textureAlphaTest, 0);
    EXPECT_EQ(g_vertexBatch.kind, 1);
    EXPECT_EQ(g_deviceCache.alphaBlendEnable, 1);
    // In mode 0 it is alpha-tested: reference 16, greater.
    g_drawSettings.blendMode = kBlendModeNone;
    PrepareDrawStates(&request, &texture, 0x1);
    EXPECT_EQ(g_deviceCache.textureAlphaTest, 1);
    EXPECT_EQ(g_deviceCache.alphaTestEnable, 1);
    EXPECT_EQ(g_deviceCache.alphaRef, 16);
    EXPECT_EQ(g_deviceCache.alphaFunc, static_cast<int32_t>(kCmpGreater));
    EXPECT_EQ(g_deviceCache.alphaBlendEnable, 0);
    // A bright colour brings the vertex colour in.
    EXPECT_EQ(g_deviceCache.stages[0].colorOp, kTopSelectArg1);
    g_drawSettings.brightColor = 0x808080;
    PrepareDrawStates(&request, &texture, 0x1);
    EXPECT_EQ(g_deviceCache.stages[0].colorOp, kTopModulate);
    // A swap of texture alone only rebinds it.
    int other = 0;
    s_calls.clear();
    PrepareDrawStates(&request, &other, 0x1);
    EXPECT_EQ(CallsOf(kTexture).size(), 1u);
    EXPECT_TRUE(CallsOf(kStage).empty());
}

TEST_F(DeviceCacheTest, BlendGraphThresholdAndRamp)
{
    int texture = 0;
    int blend = 0;
    TextureFormatRequest request{};
    SetBlendTexture(&blend, 100, 0);
    PrepareDrawStates(&request, &texture, 0);
    EXPECT_EQ(g_vertexBatch.kind, 2);
    EXPECT_EQ(g_deviceCache.alphaTestEnable, 1);
    EXPECT_EQ(g_deviceCache.alphaFunc, static_cast<int32_t>(kCmpGreaterEqual));
    EXPECT_EQ(g_deviceCache.alphaRef, 100);
    EXPECT_EQ(g_deviceCache.textureFactor, 0x00FFFFFFu);
    // The last position hides everything: no alpha is greater than 255.
    SetBlendTexture(&blend, 255, 1);
    ApplyDrawModeStates(nullptr, 1, 0);
    EXPECT_EQ(g_deviceCache.alphaTestEnable, 1);
    EXPECT_EQ(g_deviceCache.alphaFunc, static_cast<int32_t>(kCmpGreater));
    EXPECT_EQ(g_deviceCache.alphaRef, 255);
    // A soft ramp of range 100 at position 128: T 768, t 768 - 385 = 383, under 512: subtract.
    SetBlendTexture(&blend, 128, 100);
    ApplyDrawModeStates(nullptr, 1, 0);
    EXPECT_EQ(g_deviceCache.alphaTestEnable, 0);
    EXPECT_EQ(g_deviceCache.stages[0].alphaOp, kTopSubtract);
    EXPECT_EQ(g_deviceCache.stages[1].alphaOp, kTopModulate2x);
    EXPECT_EQ(g_deviceCache.textureFactor >> 24, static_cast<uint32_t>(255 - (383 * 255) / 512));
}

}  // namespace

// Shaders, lights and masks on Wine's real Direct3D 9 device: the default shaders made from
// the embedded pack (and the same code as Wine's own assembler makes of their text), the
// constants c0, the vertex declarations, lights sent to the device, and a masked draw read
// back with the same pixels on the device and on the software renderer.
#include <gtest/gtest.h>

#include <objbase.h>
#include <d3dcommon.h>

#include <cstring>
#include <string>
#include <vector>

#include "quarn/graphics/d3d9/camera.h"
#include "quarn/graphics/d3d9/device_state.h"
#include "quarn/graphics/graphics.h"
#include "quarn/graphics/graphics_win.h"
#include "quarn/graphics/mask.h"
#include "quarn/graphics/d3d9/mask_win.h"
#include "quarn/graphics/d3d9/shader_win.h"
#include "quarn/runtime/runtime.h"
#include "shader_pack_writer.h"
#include "tests/core/log_capture.h"
#include "tests/graphics/screen_fixture.h"

namespace {

constexpr int32_t kWidth = 300;
constexpr int32_t kHeight = 60;

struct ColorVertex {
    float x, y, z, rhw;
    uint32_t color;
};

class ShaderDeviceTest : public ::testing::Test {
protected:
    void SetUp() override { ASSERT_NO_FATAL_FAILURE(StartDeviceScreen(kWidth, kHeight, L"shader test")); }
    void TearDown() override { EndSoftwareScreen(); }

    static IDirect3DDevice9* Device() { return g_graphicsDevice.device; }

    // The back screen as 0x00RRGGBB pixels (either renderer).
    static std::vector<uint32_t> ReadScreen() { return ReadBackScreen(0, 0, kWidth, kHeight); }

    // Fills the area in red on the renderer in use: what drawing does while masking sends it
    // to the work image or surface.
    static void FillRed(const PixelRect& a)
    {
        if (g_screenSettings.hardwareActive) {
            PrepareDrawStates(nullptr, nullptr, 0);
            const float l = static_cast<float>(a.left) - 0.5f;
            const float t = static_cast<float>(a.top) - 0.5f;
            const float r = static_cast<float>(a.right) - 0.5f;
            const float b = static_cast<float>(a.bottom) - 0.5f;
            const uint32_t red = 0xFFFF0000;
            const ColorVertex v[6] = {{l, t, 0, 1, red}, {r, t, 0, 1, red}, {l, b, 0, 1, red},
                                      {r, t, 0, 1, red}, {r, b, 0, 1, red}, {l, b, 0, 1, red}};
            ASSERT_EQ(AppendBatchVertices(kPtTriangleList, v, 6), 0);
        } else {
            FillMemImgPixels(g_drawSettings.softDrawTarget, &a, 0xFFFF0000);
        }
    }

    // A wiped (black) screen, a mask blocking a band, and a red fill over an area through the mask.
    static std::vector<uint32_t> MaskedFill(int32_t reverse)
    {
        const PixelRect all{0, 0, kWidth, kHeight};
        WipeDrawScreen(&all);
        g_drawSettings.maskDrawing = 1;
        EXPECT_EQ(CreateMaskScreen(), 0);
        EXPECT_EQ(g_drawSettings.maskingActive, 1);
        SetMaskReverse(reverse);
        const PixelRect band{100, 0, 200, kHeight};
        EXPECT_EQ(FillMaskScreenArea(&band, 1), 0);
        const PixelRect area{20, 10, 280, 50};
        PrepareMaskedDrawArea(&area);
        FillRed(area);
        EXPECT_EQ(CommitMaskedDrawArea(&area), 0);
        EndMaskScreen();
        return ReadScreen();
    }
};

TEST_F(ShaderDeviceTest, TheDefaultShadersAreMadeFromThePack)
{
    const GraphicsDeviceState& g = g_graphicsDevice;
    ASSERT_EQ(g.vertexShader20, 1) << "Wine's device offers shader model 2";
    ASSERT_EQ(g.pixelShader20, 1);
    EXPECT_EQ(g_shaderState.programmable, 1);
    IDirect3DVertexShader9* vs = g_shaderObjects.vertex[kDefaultVertexShaderEntry];
    IDirect3DPixelShader9* ps = g_shaderObjects.pixel[kDefaultPixelShaderEntry];
    ASSERT_NE(vs, nullptr);
    ASSERT_NE(ps, nullptr);
    // The device holds the pack's code.
    UINT size = 0;
    ASSERT_TRUE(SUCCEEDED(vs->GetFunction(nullptr, &size)));
    std::vector<uint8_t> code(size);
    ASSERT_TRUE(SUCCEEDED(vs->GetFunction(code.data(), &size)));
    const auto* tokens = reinterpret_cast<const uint8_t*>(quapack::kDefaultVertexShaderTokens);
    EXPECT_EQ(code, std::vector<uint8_t>(tokens, tokens + quapack::kDefaultVertexShaderTokenCount * 4));

    // The constants c0 on the device.
    float v[4] = {};
    float p[4] = {};
    ASSERT_TRUE(SUCCEEDED(Device()->GetVertexShaderConstantF(0, v, 1)));
    ASSERT_TRUE(SUCCEEDED(Device()->GetPixelShaderConstantF(0, p, 1)));
    EXPECT_EQ(std::vector<float>(v, v + 4), (std::vector<float>{0.0f, 1.0f, 0.0f, 0.0f}));
    EXPECT_EQ(std::vector<float>(p, p + 4), (std::vector<float>{0.0f, 0.5f, 1.0f, 2.0f}));

    // Ending the device releases every shader object.
    ShutDownGraphics();
    EXPECT_EQ(g_shaderObjects.vertex[kDefaultVertexShaderEntry], nullptr);
    EXPECT_EQ(g_shaderObjects.pixel[kDefaultPixelShaderEntry], nullptr);
    EXPECT_EQ(g_shaderObjects.declarations[0], nullptr);
    EXPECT_EQ(g_shaderState.programmable, 0);
    EXPECT_EQ(g_shaderPack.data, nullptr) << "the pack goes with graphics";
    EXPECT_EQ(LightTable()->liveCount, 0) << "the default light goes with graphics";
}

// Wine's own assembler, where the prefix has it, makes the same tokens of the shaders' text.
TEST_F(ShaderDeviceTest, WinesAssemblerAgreesWithTheHandWrittenTokens)
{
    HMODULE compiler = LoadLibraryW(L"d3dcompiler_47.dll");
    if (compiler == nullptr) {
        GTEST_SKIP() << "no d3dcompiler_47.dll in the prefix";
    }
    using Assemble = HRESULT(WINAPI*)(const void*, SIZE_T, const char*, const D3D_SHADER_MACRO*, ID3DInclude*, UINT,
                                      ID3DBlob**, ID3DBlob**);
    auto assemble = reinterpret_cast<Assemble>(reinterpret_cast<void*>(GetProcAddress(compiler, "D3DAssemble")));
    ASSERT_NE(assemble, nullptr);
    const struct {
        const char* source;
        const uint32_t* tokens;
        size_t count;
    } shaders[] = {
        {quapack::kDefaultVertexShaderSource, quapack::kDefaultVertexShaderTokens,
         quapack::kDefaultVertexShaderTokenCount},
        {quapack::kDefaultPixelShaderSource, quapack::kDefaultPixelShaderTokens,
         quapack::kDefaultPixelShaderTokenCount},
    };
    for (const auto& s : shaders) {
        ID3DBlob* blob = nullptr;
        ID3DBlob* errors = nullptr;
        const HRESULT hr = assemble(s.source, std::strlen(s.source), "default", nullptr, nullptr, 0, &blob, &errors);
        if (errors != nullptr) {
            ADD_FAILURE() << static_cast<const char*>(errors->GetBufferPointer());
            errors->Release();
        }
        ASSERT_TRUE(SUCCEEDED(hr)) << s.source;
        const auto* words = static_cast<const uint32_t*>(blob->GetBufferPointer());
        const std::vector<uint32_t> assembled(words, words + blob->GetBufferSize() / 4);
        EXPECT_EQ(assembled, std::vector<uint32_t>(s.tokens, s.tokens + s.count)) << s.source;
        blob->Release();
    }
    FreeLibrary(compiler);
}

TEST_F(ShaderDeviceTest, WithoutShaderModelTwoNoShaderIsMade)
{
    LogCapture log;
    GraphicsDeviceState& g = g_graphicsDevice;
    g.vertexShader20 = 0;
    ReleaseVertexDeclarations();
    EXPECT_EQ(CreateDefaultShaders(), 0);
    EXPECT_EQ(g_shaderState.programmable, 0);
    EXPECT_EQ(g_shaderObjects.vertex[kDefaultVertexShaderEntry], nullptr);
    EXPECT_TRUE(log.Contains(L"プログラマブルシェーダーを使用しません\n"));
    EXPECT_EQ(g_shaderState.vertexConstants[0][1], 1.0f) << "c0 is kept all the same";
    g.vertexShader20 = 1;
    EXPECT_EQ(CreateDefaultShaders(), 0);
    EXPECT_EQ(g_shaderState.programmable, 1);
    EXPECT_TRUE(log.Contains(L"プログラマブルシェーダーを使用します\n"));
}

// Every declaration is accepted, and no two of its elements share bytes.
TEST_F(ShaderDeviceTest, VertexDeclarationsHaveNoOverlappingElements)
{
    const auto typeSize = [](BYTE type) -> WORD {
        switch (type) {
        case D3DDECLTYPE_FLOAT2: return 8;
        case D3DDECLTYPE_FLOAT3: return 12;
        case D3DDECLTYPE_FLOAT4: return 16;
        default: return 4;
        }
    };
    for (int32_t i = 0; i < kVertexDeclarationCount; ++i) {
        IDirect3DVertexDeclaration9* declaration = g_shaderObjects.declarations[i];
        ASSERT_NE(declaration, nullptr) << i;
        D3DVERTEXELEMENT9 elements[MAXD3DDECLLENGTH + 1];
        UINT count = MAXD3DDECLLENGTH + 1;
        ASSERT_TRUE(SUCCEEDED(declaration->GetDeclaration(elements, &count))) << i;
        for (UINT a = 0; a + 1 < count; ++a) {
            for (UINT b = a + 1; b + 1 < count; ++b) {
                const bool apart = elements[a].Offset + typeSize(elements[a].Type) <= elements[b].Offset ||
                                   elements[b].Offset + typeSize(elements[b].Type) <= elements[a].Offset;
                EXPECT_TRUE(apart) << "declaration " << i << ": elements " << a << " and " << b;
            }
        }
    }
    // The extra one's second texture coordinate follows the first.
    D3DVERTEXELEMENT9 extra[8];
    ASSERT_EQ(BuildVertexDeclarationElements(kVertexDeclarationCount - 1, extra), 7);
    EXPECT_EQ(extra[5].Usage, D3DDECLUSAGE_TEXCOORD);
    EXPECT_EQ(extra[5].UsageIndex, 1);
    EXPECT_EQ(extra[5].Offset, 40);
    // Declaration 9 x (3 x 1 + 2) + 3: three normals, two bones, three float4 coordinates.
    D3DVERTEXELEMENT9 big[24];
    EXPECT_EQ(BuildVertexDeclarationElements(9 * 5 + 3, big), 14);
    EXPECT_EQ(big[12].Offset, 96 + 32);
    EXPECT_EQ(big[12].UsageIndex, 2);
}

TEST_F(ShaderDeviceTest, LightsReachTheDevice)
{
    const int32_t light = CreateDirectionalLight(0.0f, 0.0f, 2.0f);
    ASSERT_GE(light, 0);
    ASSERT_EQ(PushLightsToDevice(), 0);
    const int32_t index = FindLightRecord(light)->deviceIndex;
    ASSERT_GE(index, 1) << "the default light comes first";
    D3DLIGHT9 sent{};
    ASSERT_TRUE(SUCCEEDED(Device()->GetLight(static_cast<DWORD>(index), &sent)));
    EXPECT_EQ(sent.Type, D3DLIGHT_DIRECTIONAL);
    EXPECT_FLOAT_EQ(sent.Direction.z, 1.0f);
    BOOL enabled = FALSE;
    ASSERT_TRUE(SUCCEEDED(Device()->GetLightEnable(static_cast<DWORD>(index), &enabled)));
    EXPECT_TRUE(enabled);
    // Disabled, it gives up its index and the device's light goes off.
    SetLightEnable(light, 0);
    PushLightsToDevice();
    ASSERT_TRUE(SUCCEEDED(Device()->GetLightEnable(static_cast<DWORD>(index), &enabled)));
    EXPECT_FALSE(enabled);
}

TEST_F(ShaderDeviceTest, TheMaskTexturesLiveInTheDefaultPoolWithASystemMemoryTwin)
{
    g_drawSettings.maskDrawing = 1;
    ASSERT_EQ(CreateMaskScreen(), 0);
    const DeviceMaskObjects& m = g_deviceMask;
    ASSERT_NE(m.image, nullptr);
    ASSERT_NE(m.imageTwin, nullptr);
    ASSERT_NE(m.work, nullptr);
    D3DSURFACE_DESC desc{};
    ASSERT_TRUE(SUCCEEDED(m.image->GetLevelDesc(0, &desc)));
    EXPECT_EQ(desc.Pool, D3DPOOL_DEFAULT);
    EXPECT_EQ(desc.Width, 512u);
    EXPECT_EQ(desc.Height, 64u);
    ASSERT_TRUE(SUCCEEDED(m.imageTwin->GetLevelDesc(0, &desc)));
    EXPECT_EQ(desc.Pool, D3DPOOL_SYSTEMMEM);
    EXPECT_EQ(g_deviceCache.renderTarget, m.work) << "drawing goes to the work surface";
    EndMaskScreen();
    EXPECT_EQ(g_deviceMask.image, nullptr);
    EXPECT_NE(g_deviceCache.renderTarget, static_cast<void*>(nullptr));
    EXPECT_NE(g_deviceCache.renderTarget, static_cast<void*>(m.work));
}

TEST_F(ShaderDeviceTest, AMaskedDrawGivesTheSamePixelsOnBothRenderers)
{
    for (int32_t reverse = 0; reverse < 2; ++reverse) {
        SCOPED_TRACE(reverse ? "reversed" : "plain");
        ASSERT_EQ(g_screenSettings.hardwareActive, 1);
        const std::vector<uint32_t> device = MaskedFill(reverse);

        ShutDownGraphics();
        g_screenSettings.softwareOnly = 1;
        ASSERT_EQ(InitializeGraphics(), 0);
        ASSERT_EQ(g_screenSettings.hardwareActive, 0);
        SelectDrawTarget(kDrawTargetBackScreen);
        const std::vector<uint32_t> software = MaskedFill(reverse);

        ASSERT_EQ(device.size(), software.size());
        int32_t failures = 0;
        for (int32_t y = 0; y < kHeight; ++y) {
            for (int32_t x = 0; x < kWidth; ++x) {
                const bool inArea = x >= 20 && x < 280 && y >= 10 && y < 50;
                const bool blocked = (x >= 100 && x < 200) != (reverse == 1);
                const uint32_t want = inArea && !blocked ? 0xFF0000u : 0u;
                const size_t i = static_cast<size_t>(y * kWidth + x);
                if ((device[i] != want || software[i] != want) && failures++ < 6) {
                    ADD_FAILURE() << "(" << x << ", " << y << "): device " << std::hex << device[i] << ", software "
                                  << software[i] << ", expected " << want;
                }
            }
        }
        ShutDownGraphics();
        g_screenSettings.softwareOnly = 0;
        ASSERT_EQ(InitializeGraphics(), 0);
        SelectDrawTarget(kDrawTargetBackScreen);
    }
}

}  // namespace

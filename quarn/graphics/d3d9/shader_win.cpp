// The device's shaders and vertex declarations: the two default shaders from the embedded
// pack, the library's constants c0, and the declarations of the model code's shader paths.
// Windows build only.
#include <windows.h>

#include <d3d9.h>

#include "quarn/graphics/d3d9/camera.h"
#include "quarn/graphics/graphics_win.h"
#include "quarn/graphics/d3d9/shader_win.h"

ShaderObjects g_shaderObjects{};

namespace {

IDirect3DDevice9* Device() { return g_graphicsDevice.device; }

// Unbinds the shaders and forgets the bindings: the common first step of both releases.
void UnbindShaders()
{
    Device()->SetVertexShader(nullptr);
    Device()->SetPixelShader(nullptr);
    Device()->SetVertexDeclaration(nullptr);
}

constexpr BYTE kFloat2 = D3DDECLTYPE_FLOAT2, kFloat3 = D3DDECLTYPE_FLOAT3, kFloat4 = D3DDECLTYPE_FLOAT4,
               kColor = D3DDECLTYPE_D3DCOLOR, kUbyte4 = D3DDECLTYPE_UBYTE4;

D3DVERTEXELEMENT9 Element(WORD offset, BYTE type, BYTE usage, BYTE index)
{
    return D3DVERTEXELEMENT9{0, offset, type, D3DDECLMETHOD_DEFAULT, usage, index};
}

// The base element lists by (a, b): position, blend indices and weights for b bones-pairs,
// one normal (a = 0) or three (a = 1), two colours.
int32_t BaseElements(int32_t a, int32_t b, D3DVERTEXELEMENT9* out)
{
    int32_t n = 0;
    WORD offset = 0;
    out[n++] = Element(offset, kFloat3, D3DDECLUSAGE_POSITION, 0);
    offset += 12;
    for (int32_t i = 0; i < b; ++i) {
        out[n++] = Element(offset, kUbyte4, D3DDECLUSAGE_BLENDINDICES, static_cast<BYTE>(i));
        offset += 4;
    }
    for (int32_t i = 0; i < b; ++i) {
        out[n++] = Element(offset, kFloat4, D3DDECLUSAGE_BLENDWEIGHT, static_cast<BYTE>(i));
        offset += 16;
    }
    for (int32_t i = 0; i < (a == 0 ? 1 : 3); ++i) {
        out[n++] = Element(offset, kFloat3, D3DDECLUSAGE_NORMAL, static_cast<BYTE>(i));
        offset += 12;
    }
    out[n++] = Element(offset, kColor, D3DDECLUSAGE_COLOR, 0);
    out[n++] = Element(static_cast<WORD>(offset + 4), kColor, D3DDECLUSAGE_COLOR, 1);
    return n;
}

}  // namespace

int32_t BuildVertexDeclarationElements(int32_t index, D3DVERTEXELEMENT9* out)
{
    int32_t n = 0;
    if (index == kVertexDeclarationCount - 1) {
        // The extra declaration: position, normal, two colours and two float2 coordinates.
        out[n++] = Element(0, kFloat3, D3DDECLUSAGE_POSITION, 0);
        out[n++] = Element(12, kFloat3, D3DDECLUSAGE_NORMAL, 0);
        out[n++] = Element(24, kColor, D3DDECLUSAGE_COLOR, 0);
        out[n++] = Element(28, kColor, D3DDECLUSAGE_COLOR, 1);
        out[n++] = Element(32, kFloat2, D3DDECLUSAGE_TEXCOORD, 0);
        out[n++] = Element(40, kFloat2, D3DDECLUSAGE_TEXCOORD, 1);
    } else {
        const int32_t base = index / 9;
        n = BaseElements(base / 3, base % 3, out);
        const WORD size = static_cast<WORD>(out[n - 1].Offset + 4);
        for (int32_t k = 0; k < index % 9; ++k) {
            out[n++] = Element(static_cast<WORD>(size + 16 * k), kFloat4, D3DDECLUSAGE_TEXCOORD, static_cast<BYTE>(k));
        }
    }
    out[n++] = D3DVERTEXELEMENT9 D3DDECL_END();
    return n;
}

int32_t ReleaseVertexDeclarations()
{
    if (Device() == nullptr) {
        return 0;
    }
    UnbindShaders();
    for (IDirect3DVertexDeclaration9*& declaration : g_shaderObjects.declarations) {
        ReleaseObject(declaration);
    }
    return 0;
}

int32_t ReleaseShaderObjects()
{
    if (Device() == nullptr) {
        return 0;
    }
    UnbindShaders();
    for (IDirect3DPixelShader9*& shader : g_shaderObjects.pixel) {
        ReleaseObject(shader);
    }
    for (IDirect3DVertexShader9*& shader : g_shaderObjects.vertex) {
        ReleaseObject(shader);
    }
    return 0;
}

int32_t CreateVertexDeclarations()
{
    ReleaseVertexDeclarations();
    if (Device() == nullptr) {
        return 0;
    }
    D3DVERTEXELEMENT9 elements[24];
    for (int32_t i = 0; i < kVertexDeclarationCount; ++i) {
        BuildVertexDeclarationElements(i, elements);
        if (FAILED(Device()->CreateVertexDeclaration(elements, &g_shaderObjects.declarations[i]))) {
            g_shaderObjects.declarations[i] = nullptr;
        }
    }
    return 0;
}

int32_t CreateDefaultShaders()
{
    ReleaseShaderObjects();
    GraphicsDeviceState& g = g_graphicsDevice;
    g_shaderState.programmable = 0;
    if (Device() != nullptr && g.vertexShader20 && g.pixelShader20) {
        g_shaderState.programmable = 1;
        if (LoadShaderPack() == 0) {
            AppendLog(L"シェーダーコードを展開するメモリ領域の確保に失敗しました\n");
            g_shaderState.programmable = 0;
        } else {
            const auto* vertexCode = reinterpret_cast<const DWORD*>(g_shaderPack.vertexCode[kDefaultVertexShaderEntry]);
            const auto* pixelCode = reinterpret_cast<const DWORD*>(g_shaderPack.pixelCode[kDefaultPixelShaderEntry]);
            if (vertexCode == nullptr ||
                FAILED(Device()->CreateVertexShader(vertexCode, &g_shaderObjects.vertex[kDefaultVertexShaderEntry]))) {
                g_shaderObjects.vertex[kDefaultVertexShaderEntry] = nullptr;
                g_shaderState.programmable = 0;
            }
            if (pixelCode == nullptr ||
                FAILED(Device()->CreatePixelShader(pixelCode, &g_shaderObjects.pixel[kDefaultPixelShaderEntry]))) {
                g_shaderObjects.pixel[kDefaultPixelShaderEntry] = nullptr;
                g_shaderState.programmable = 0;
            }
        }
    }
    AppendLog(g_shaderState.programmable ? L"プログラマブルシェーダーを使用します\n"
                                         : L"プログラマブルシェーダーを使用しません\n");
    SetLibraryShaderConstantZero();
    return 0;
}

void StartDeviceShaders()
{
    ResetDeviceLightCache();
    CreateDefaultShaders();
    if (g_shaderState.programmable) {
        CreateVertexDeclarations();
    }
}

void ReleaseDeviceShaders()
{
    ReleaseVertexDeclarations();
    ReleaseShaderObjects();
    g_shaderState.programmable = 0;
}

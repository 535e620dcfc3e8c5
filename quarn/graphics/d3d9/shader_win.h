// The device's shader objects and vertex declarations. Windows build only.
#pragma once

#include <windows.h>

#include <d3d9.h>

#include <cstdint>

#include "quarn/graphics/d3d9/shader_pack.h"

// 54 declarations indexed 9 x (3 x a + b) + n, and the extra one last.
constexpr int32_t kVertexDeclarationCount = 55;

struct ShaderObjects {
    IDirect3DVertexShader9* vertex[kVertexShaderEntries];
    IDirect3DPixelShader9* pixel[kPixelShaderEntries];
    IDirect3DVertexDeclaration9* declarations[kVertexDeclarationCount];
};
extern ShaderObjects g_shaderObjects;

// Programmable shaders in use when the device has vertex and pixel shader 2.0, the pack
// expands and both default shaders are made; the constants c0 in every case. 0.
int32_t CreateDefaultShaders();
int32_t CreateVertexDeclarations();
int32_t ReleaseVertexDeclarations();
int32_t ReleaseShaderObjects();
// The elements of declaration index, end marker included: their count.
int32_t BuildVertexDeclarationElements(int32_t index, D3DVERTEXELEMENT9* out);

// Device start: fresh light caches, the default shaders and, with them, the declarations.
void StartDeviceShaders();
// Device end: the declarations and shader objects released, the programmable flag cleared.
void ReleaseDeviceShaders();

// A creator of model bases and instances for the tests: the library has no loader, so these
// fill the records as a creator must (see quarn/model/model.h) with vertices whose every value
// tells which mesh and vertex it belongs to.
#pragma once

#include <cstdint>
#include <vector>

#include "quarn/model/model.h"

struct TestMeshShape {
    uint16_t skinningKind;
    int32_t selector;  // of the frame the mesh belongs to
    uint16_t texCoordSets;
    int32_t vertexCount;
    uint16_t indexCount;
};

struct TestTextureShape {
    std::vector<uint8_t> color;  // empty: none
    std::vector<uint8_t> alpha;  // empty: none
    uint32_t normalMap;
    float heightScale;
    int32_t graph;
};

// The values the creator gives vertex v of mesh m.
ModelMeshVertex TestVertex(int32_t mesh, int32_t vertex);
float TestTexCoord(int32_t mesh, int32_t vertex, int32_t set, int32_t component);  // component 0 u, 1 v
Vector3 TestNormalData(int32_t mesh, int32_t vertex, int32_t which);
uint16_t TestIndex(int32_t mesh, int32_t index, int32_t vertexCount);

// A base with one frame per mesh (in mesh order), its textures and an owned-block chain, in
// the next base slot. Its reference count is 1. The handle, or -1.
int32_t CreateTestBase(const std::vector<TestMeshShape>& meshes, const std::vector<TestTextureShape>& textures = {});
// An instance of the base with owned frame blocks and chains, attachments (the first of them
// in use) and textures copied from the base's with the given ones overridden. The handle, or -1.
int32_t CreateTestInstance(int32_t baseHandle, int32_t attachments = 2, const std::vector<int32_t>& overridden = {});

// An uncompressed 32-bit TGA (top-down) of the size whose pixels the function gives as
// 0xAARRGGBB.
std::vector<uint8_t> MakeTestTga(int32_t width, int32_t height, uint32_t (*pixel)(int32_t x, int32_t y));

// What the buffer builds wrote, read back from a buffer's bytes.
#pragma once

#include <gtest/gtest.h>

#include <cstring>

#include "tests/model/model_creator.h"

// Reads what the build wrote for a vertex of the fixed-function layout.
inline void ExpectFixedVertex(const uint8_t* at, int32_t mesh, int32_t vertex, int32_t sets)
{
    const ModelMeshVertex want = TestVertex(mesh, vertex);
    float f[6];
    uint32_t colors[2];
    std::memcpy(f, at, sizeof f);
    std::memcpy(colors, at + 24, sizeof colors);
    EXPECT_EQ(f[0], want.position.x);
    EXPECT_EQ(f[1], want.position.y);
    EXPECT_EQ(f[2], want.position.z);
    EXPECT_EQ(f[3], want.normal.x);
    EXPECT_EQ(f[4], want.normal.y);
    EXPECT_EQ(f[5], want.normal.z);
    EXPECT_EQ(colors[0], want.diffuse);
    EXPECT_EQ(colors[1], want.specular);
    for (int32_t set = 0; set < sets; ++set) {
        float uv[4];
        std::memcpy(uv, at + 32 + 16 * set, sizeof uv);
        EXPECT_EQ(uv[0], TestTexCoord(mesh, vertex, set, 0));
        EXPECT_EQ(uv[1], TestTexCoord(mesh, vertex, set, 1));
        EXPECT_EQ(uv[2], 1.0f);
        EXPECT_EQ(uv[3], 1.0f);
    }
}

// A software screen of 32 x 24 pixels with fresh draw settings, and pictures whose pixels
// encode their own coordinates, so that a drawn pixel tells which source pixel it came from.
#pragma once

#include <gtest/gtest.h>

#include <cstring>

#include "quarn/core/core.h"
#include "quarn/graphics/graph.h"
#include "quarn/graphics/soft/soft_graph.h"
#include "quarn/graphics/graphics.h"
#include "quarn/graphics/render_backend.h"
#include "quarn/sound/movie.h"
#ifdef _WIN32
#include "quarn/system/system.h"
#endif

namespace graph_test {

constexpr int32_t kScreenW = 32;
constexpr int32_t kScreenH = 24;
constexpr int32_t kCodeBase = 16;  // red = kCodeBase + x, green = kCodeBase + y
constexpr uint32_t kCodeBlue = 0x77;

// The 0x00RRGGBB of a coded source pixel.
constexpr uint32_t Code(int32_t x, int32_t y)
{
    return static_cast<uint32_t>(kCodeBase + x) << 16 | static_cast<uint32_t>(kCodeBase + y) << 8 | kCodeBlue;
}

class GraphTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        static const int tables = BuildMemImgBlendTables();
        (void)tables;
        ResetScreenSettings();
        ResetGraphicsState();
        g_drawSettings.graphRestoreRoutine = nullptr;
        g_screenSettings.started = 1;
        g_screenSettings.width = kScreenW;
        g_screenSettings.height = kScreenH;
        g_screenSettings.colorBits = 32;
#ifdef _WIN32
        g_system.started = 1;
        g_system.active = 1;
#endif
        g_drawSettings.blendGraph = -1;
        g_drawSettings.blendParam = 255;
        g_drawSettings.brightColor = kNoBrightColor;
        g_drawSettings.drawTarget = -2;
        g_drawSettings.drawTargetWidth = kScreenW;
        g_drawSettings.drawTargetHeight = kScreenH;
        g_drawSettings.clip = PixelRect{0, 0, kScreenW, kScreenH};
        g_drawSettings.newGraphAlphaTest = 1;
        g_newGraphSettings = NewGraphSettings{0, 0};
        ASSERT_EQ(CreatePlainMemImg(&g_screenImages.primary, kScreenW, kScreenH, kMemImgXrgb32), 0);
        g_drawSettings.softDrawTarget = &g_screenImages.primary;
        Fill(0x123456);
        blocksBefore_ = GetAllocatorTotals().blockCount;
    }

    void TearDown() override
    {
        UseRenderBackend(&kSoftwareRenderBackend);
        DestroyAllGraphs();
        EXPECT_EQ(GetAllocatorTotals().blockCount, blocksBefore_) << "graphs left memory behind";
        EXPECT_EQ(GraphTable()->liveCount, 0);
        ResetGraphicsState();
#ifdef _WIN32
        g_system.started = 0;
        g_system.active = 0;
#endif
        ResetScreenSettings();
    }

    // The screen pixel's colour bits (0x00RRGGBB).
    uint32_t At(int32_t x, int32_t y) const { return Pixel(g_screenImages.primary, x, y); }

    static uint32_t Pixel(const MEMIMG& image, int32_t x, int32_t y)
    {
        uint32_t v = 0;
        std::memcpy(&v, image.pixels + ptrdiff_t{image.store->pitch} * y + 4 * x, 4);
        return v & 0xFFFFFF;
    }

    void Fill(uint32_t rgb)
    {
        const uint32_t value = 0xFF000000u | rgb;
        FillMemImgPixels(&g_screenImages.primary, nullptr, value);
    }

    // A 32-bit picture whose pixel (x, y) is Code(x, y); zeroPixel, when inside, is black.
    static BaseImage CodedPicture(int32_t width, int32_t height, int32_t zeroX = -1, int32_t zeroY = -1)
    {
        BaseImage image{};
        EXPECT_EQ(AllocXrgbBaseImage(width, height, &image), 0);
        for (int32_t y = 0; y < height; ++y) {
            for (int32_t x = 0; x < width; ++x) {
                const uint32_t c = x == zeroX && y == zeroY ? 0 : Code(x, y);
                WriteBaseImagePixel(&image, x, y, (c >> 16) & 0xFF, (c >> 8) & 0xFF, c & 0xFF, 255);
            }
        }
        return image;
    }

    // A graph made from a coded picture.
    static int32_t CodedGraph(int32_t width, int32_t height, int32_t zeroX = -1, int32_t zeroY = -1)
    {
        BaseImage image = CodedPicture(width, height, zeroX, zeroY);
        const int32_t graph = ConvertBaseImageToGraph(&image, nullptr, 0, 0, 0);
        DiscardBaseImage(&image);
        return graph;
    }

    int32_t blocksBefore_ = 0;
};

}  // namespace graph_test

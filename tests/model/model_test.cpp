// The model registry without a real device: the built-in images, the sine table, the texture
// build, the vertex layouts, the buffer builds and releases over a device that only makes
// buffers, and deletion down to the last block.
#include <gtest/gtest.h>

#include <cmath>
#include <cstring>

#include "quarn/core/core.h"
#include "quarn/image/image.h"
#include "quarn/model/model.h"
#include "quarn/model/model_os.h"
#include "tests/model/fake_buffers.h"
#include "tests/model/model_creator.h"
#include "tests/model/vertex_check.h"

namespace {

constexpr ModelDeviceFacts kShaderDevice{1, 1, 0, 256, 256};

class ModelTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        ResetModelState();
        FakeBufferDevice::Get().Clear();
        FakeBufferDevice::Get().Install();
        UseFacts(kShaderDevice);
        blocksBefore = GetAllocatorTotals().blockCount;
        ASSERT_EQ(StartModelSystem(), 0);
        ASSERT_EQ(g_modelRegistry.started, 1);
    }
    void TearDown() override
    {
        ResetModelState();
        UseDeviceCalls(nullptr);
        EXPECT_TRUE(FakeBufferDevice::Get().live.empty()) << "buffers left unreleased";
        FakeBufferDevice::Get().Clear();
    }
    void UseFacts(const ModelDeviceFacts& facts)
    {
        this->facts = facts;
        SetModelDeviceFacts(&this->facts);
    }

    // The live buffer of the base's only batch of the layout.
    static ModelBatch* OnlyBatch(int32_t base, int32_t kind, int32_t selector, int32_t sets)
    {
        const ModelBatchChain& chain = FindModelBase(base)->chains[kind][selector][sets];
        EXPECT_EQ(chain.count, 1);
        return chain.head;
    }

    ModelDeviceFacts facts{};
    int32_t blocksBefore = 0;
};

// ---- The built-in images

TEST(ModelBuiltInImages, DecodeThroughTheTgaDecoderToTheirPixels)
{
    struct Case {
        int32_t size, width, height;
        uint32_t (*expected)(int32_t x);
    };
    const Case cases[3] = {
        {84, 8, 8, [](int32_t) { return 0xFFFFFFFFu; }},
        {172, 256, 8, [](int32_t x) { return 0xFF000000u | 0x555555u * static_cast<uint32_t>(x / 64); }},
        {172, 256, 8, [](int32_t x) { return 0xFF000000u | 0x555555u * static_cast<uint32_t>(x / 64); }},
    };
    for (int32_t i = 0; i < 3; ++i) {
        SCOPED_TRACE(i + 1);
        const ModelBuiltInImage& file = kModelBuiltInImages[i];
        ASSERT_EQ(file.size, cases[i].size);
        EXPECT_EQ(file.bytes[2], 10) << "run-length true colour";
        EXPECT_EQ(std::memcmp(file.bytes + file.size - 18, "TRUEVISION-XFILE.", 18), 0);
        BaseImage image{};
        ASSERT_EQ(DecodeImageToBaseImage(nullptr, file.bytes, file.size, 1, &image, 0), 0);
        ASSERT_EQ(image.width, cases[i].width);
        ASSERT_EQ(image.height, cases[i].height);
        EXPECT_EQ(image.format.alphaWidth, i == 0 ? 8 : 0);
        int32_t wrong = 0;
        for (int32_t y = 0; y < image.height; ++y) {
            for (int32_t x = 0; x < image.width; ++x) {
                int r = 0, g = 0, b = 0, a = 255;
                ReadBaseImagePixelRgba(&image, x, y, &r, &g, &b, i == 0 ? &a : nullptr);
                const uint32_t argb = static_cast<uint32_t>(a) << 24 | static_cast<uint32_t>(r) << 16 |
                                      static_cast<uint32_t>(g) << 8 | static_cast<uint32_t>(b);
                wrong += argb != cases[i].expected(x);
            }
        }
        EXPECT_EQ(wrong, 0);
        DiscardBaseImage(&image);
    }
    EXPECT_EQ(std::memcmp(kModelBuiltInImages[1].bytes, kModelBuiltInImages[2].bytes, 172), 0);
}

// ---- Start and the sine table

TEST_F(ModelTest, SineTableHoldsOneTurnToSinglePrecision)
{
    const float* sine = g_modelRegistry.sine;
    EXPECT_EQ(sine[0], 0.0f);
    EXPECT_EQ(sine[16384], 1.0f);
    EXPECT_EQ(sine[49152], -1.0f);
    double worst = 0;
    for (int32_t i = 0; i < kModelSineSteps; ++i) {
        const double error = std::fabs(sine[i] - std::sin(2.0 * 3.14159265358979323846 * i / 65536.0));
        worst = error > worst ? error : worst;
    }
    // The angle carries single-precision pi, so the error grows to about 6e-7 near a full turn.
    EXPECT_LT(worst, 1e-6);
    EXPECT_EQ(sizeof g_modelRegistry.sine / sizeof(float), 65536u);
}

TEST_F(ModelTest, StartsOnlyWithHardwareRenderingAndOnce)
{
    ResetModelState();
    UseFacts(ModelDeviceFacts{0, 1, 0, 256, 256});
    EXPECT_EQ(StartModelSystem(), 0);
    EXPECT_EQ(g_modelRegistry.started, 0);
    UseFacts(kShaderDevice);
    ASSERT_EQ(StartModelSystem(), 0);
    const int32_t base = CreateTestBase({{0, 0, 0, 3, 3}});
    ASSERT_EQ(StartModelSystem(), 0);  // started already: the tables stay
    EXPECT_NE(FindModelBase(base), nullptr);
}

TEST_F(ModelTest, WalksOverEmptyTablesMakeNoDeviceCall)
{
    EXPECT_EQ(RestoreModelTextures(), 0);
    EXPECT_EQ(RebuildModelBaseBuffers(), 0);
    EXPECT_EQ(ReleaseModelDeviceBuffers(), 0);
    EXPECT_EQ(ShutDownModelSystem(), 0);
    EXPECT_EQ(FakeBufferDevice::Get().calls, 0);
    EXPECT_EQ(g_modelRegistry.started, 0);
    EXPECT_EQ(GetAllocatorTotals().blockCount, blocksBefore);
}

// ---- Textures

uint32_t FlatGrey(int32_t, int32_t) { return 0xFF808080u; }
uint32_t StepInX(int32_t x, int32_t) { return x == 0 ? 0xFF000000u : 0xFFFFFFFFu; }

TEST_F(ModelTest, NormalMapOfHeightField)
{
    struct Case {
        const char* name;
        int32_t width, height;
        uint32_t (*pixel)(int32_t, int32_t);
        float scale;
        uint32_t expected[2];  // 0x00RRGGBB of pixels (0, 0) and (1, 0)
    };
    const Case cases[] = {
        {"flat field", 4, 4, FlatGrey, 1.0f, {0x7F7FFF, 0x7F7FFF}},
        {"flat field, scale 0", 4, 4, FlatGrey, 0.0f, {0x7F7FFF, 0x7F7FFF}},
        // Heights 0 and 255 side by side, wrapping: slopes +1 and -1 in x.
        {"step, scale 1", 2, 1, StepInX, 1.0f, {0x257FD9, 0xD97FD9}},
        // A scale of 0 is taken as 1e-6: the slope dominates, the normal lies almost flat.
        {"step, scale 1e-6", 2, 1, StepInX, 0.000001f, {0x007F7F, 0xFF7F7F}},
        {"step, scale 0", 2, 1, StepInX, 0.0f, {0x007F7F, 0xFF7F7F}},
        {"step, negative scale", 2, 1, StepInX, -3.0f, {0x007F7F, 0xFF7F7F}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const std::vector<uint8_t> file = MakeTestTga(c.width, c.height, c.pixel);
        BaseImage color{};
        BaseImage alpha{};
        ASSERT_EQ(BuildModelTexture(&color, &alpha, file.data(), static_cast<int32_t>(file.size()), nullptr, 0, 1,
                                    c.scale),
                  0);
        ASSERT_EQ(color.width, c.width);
        EXPECT_EQ(alpha.pixels, nullptr);
        for (int32_t x = 0; x < 2; ++x) {
            EXPECT_EQ(ReadBaseImagePixelArgb(&color, x, 0) & 0xFFFFFF, c.expected[x]) << "x " << x;
        }
        if (c.pixel == FlatGrey) {
            int32_t wrong = 0;
            for (int32_t y = 0; y < c.height; ++y) {
                for (int32_t x = 0; x < c.width; ++x) {
                    wrong += (ReadBaseImagePixelArgb(&color, x, y) & 0xFFFFFF) != 0x7F7FFF;
                }
            }
            EXPECT_EQ(wrong, 0);
        }
        DiscardBaseImage(&color);
    }
    EXPECT_EQ(GetAllocatorTotals().blockCount, blocksBefore);
}

TEST_F(ModelTest, ResamplesToPowersOfTwoWithinHalfTheLargestTexture)
{
    struct Case {
        int32_t width, height, maxTexture, expectedWidth, expectedHeight;
    };
    const Case cases[] = {
        {100, 60, 256, 128, 64}, {100, 60, 4096, 128, 64}, {100, 60, 128, 64, 64},
        {1, 3, 256, 1, 4},       {64, 32, 64, 64, 32},  // powers of two already: kept even above the limit
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(testing::Message() << c.width << "x" << c.height << " limit " << c.maxTexture);
        UseFacts(ModelDeviceFacts{1, 1, 0, c.maxTexture, c.maxTexture});
        const std::vector<uint8_t> file = MakeTestTga(c.width, c.height, FlatGrey);
        BaseImage color{};
        BaseImage alpha{};
        ASSERT_EQ(BuildModelTexture(&color, &alpha, file.data(), static_cast<int32_t>(file.size()), file.data(),
                                    static_cast<int32_t>(file.size()), 0, 1.0f),
                  0);
        EXPECT_EQ(color.width, c.expectedWidth);
        EXPECT_EQ(color.height, c.expectedHeight);
        EXPECT_EQ(alpha.width, c.expectedWidth);
        EXPECT_EQ(alpha.height, c.expectedHeight);
        EXPECT_EQ(ReadBaseImagePixelArgb(&color, c.expectedWidth - 1, c.expectedHeight - 1) & 0xFFFFFF, 0x808080u)
            << "bilinear over a flat image stays flat";
        DiscardBaseImage(&color);
        DiscardBaseImage(&alpha);
    }
}

TEST_F(ModelTest, WithoutColourDataTheColourIsWhiteOverTheAlphaImage)
{
    const std::vector<uint8_t> file = MakeTestTga(100, 60, FlatGrey);
    BaseImage color{};
    BaseImage alpha{};
    ASSERT_EQ(BuildModelTexture(&color, &alpha, nullptr, 0, file.data(), static_cast<int32_t>(file.size()), 0, 1.0f),
              0);
    // Only given images are resampled.
    EXPECT_EQ(color.width, 100);
    EXPECT_EQ(color.height, 60);
    EXPECT_EQ(alpha.width, 128);
    EXPECT_EQ(alpha.height, 64);
    EXPECT_EQ(ReadBaseImagePixelArgb(&color, 99, 59) & 0xFFFFFF, 0xFFFFFFu);
    DiscardBaseImage(&color);
    DiscardBaseImage(&alpha);
}

TEST_F(ModelTest, TextureBuildThatFailsLeavesNothingAllocated)
{
    const std::vector<uint8_t> good = MakeTestTga(4, 4, FlatGrey);
    const uint8_t junk[] = {1, 2, 3, 4, 5, 6, 7, 8};
    const auto goodSize = static_cast<int32_t>(good.size());
    struct Case {
        const char* name;
        const void* color;
        int32_t colorSize;
        const void* alpha;
        int32_t alphaSize;
    };
    const Case cases[] = {
        {"colour undecodable", junk, 8, good.data(), goodSize},
        {"alpha undecodable", good.data(), goodSize, junk, 8},
        {"colour cut short", good.data(), goodSize - 1, nullptr, 0},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        BaseImage color{};
        BaseImage alpha{};
        EXPECT_EQ(BuildModelTexture(&color, &alpha, c.color, c.colorSize, c.alpha, c.alphaSize, 1, 1.0f), -1);
        EXPECT_EQ(color.pixels, nullptr);
        EXPECT_EQ(alpha.pixels, nullptr);
        EXPECT_EQ(GetAllocatorTotals().blockCount, blocksBefore);
    }
}

// ---- Vertex layouts

// The bytes of one vertex as an FVF code lays it out: position, normal, the two colours and
// each texture-coordinate set by its size bits.
int32_t FvfVertexBytes(uint32_t fvf)
{
    int32_t bytes = 0;
    bytes += (fvf & 0x0E) == 0x02 ? 12 : 0;
    bytes += (fvf & 0x10) != 0 ? 12 : 0;
    bytes += (fvf & 0x40) != 0 ? 4 : 0;
    bytes += (fvf & 0x80) != 0 ? 4 : 0;
    const uint32_t sets = (fvf >> 8) & 0xF;
    for (uint32_t set = 0; set < sets; ++set) {
        const uint32_t size = (fvf >> (16 + 2 * set)) & 3;  // 0: two, 1: three, 2: four, 3: one
        bytes += size == 0 ? 8 : size == 1 ? 12 : size == 2 ? 16 : 4;
    }
    return bytes;
}

TEST(ModelVertexLayouts, FixedFunctionStrideIsWhatItsFvfLaysOut)
{
    for (int32_t sets = 0; sets <= 8; ++sets) {
        SCOPED_TRACE(sets);
        ModelVertexLayout layout{};
        ASSERT_EQ(ModelVertexLayoutOf(0, 0, sets, &layout), 0);
        EXPECT_EQ(layout.fvf & 0xF0FFu, 0xD2u) << "position, normal, diffuse, specular";
        EXPECT_EQ(static_cast<int32_t>((layout.fvf >> 8) & 0xF), sets);
        EXPECT_EQ(layout.stride, FvfVertexBytes(layout.fvf));
        EXPECT_EQ(layout.stride, 32 + 16 * sets);
        EXPECT_EQ(layout.shadersOnly, 0);
    }
}

TEST(ModelVertexLayouts, ShaderLayoutsAndRefusals)
{
    struct Case {
        int32_t kind, selector, beyondS;
    };
    const Case cases[] = {{0, 1, 4}, {1, 0, 0}, {1, 1, 24}, {2, 0, 20}, {2, 1, 44}};
    for (const Case& c : cases) {
        for (int32_t sets : {0, 3, 8}) {
            ModelVertexLayout layout{};
            ASSERT_EQ(ModelVertexLayoutOf(c.kind, c.selector, sets, &layout), 0);
            EXPECT_EQ(layout.stride, 52 + 16 * sets + c.beyondS) << c.kind << "/" << c.selector << "/" << sets;
            EXPECT_EQ(layout.fvf, 0u);
            EXPECT_EQ(layout.shadersOnly, 1);
        }
    }
    ModelVertexLayout layout{};
    EXPECT_EQ(ModelVertexLayoutOf(3, 0, 0, &layout), -1);
    EXPECT_EQ(ModelVertexLayoutOf(0, 2, 0, &layout), -1);
    EXPECT_EQ(ModelVertexLayoutOf(0, 0, 9, &layout), -1);
    EXPECT_EQ(ModelVertexLayoutOf(0, 0, -1, &layout), -1);
}

// ---- Buffer builds

TEST_F(ModelTest, BuildsSharedBuffersAndWritesEveryMeshAtItsPlace)
{
    // Meshes 0 and 2 share the fixed-function batch of two sets; mesh 1 has another layout.
    const int32_t base = CreateTestBase({{0, 0, 2, 5, 6}, {0, 0, 1, 3, 3}, {0, 0, 2, 4, 9}});
    ASSERT_EQ(BuildBaseBuffers(base, 7), 0);
    ModelBaseRecord* record = FindModelBase(base);
    EXPECT_EQ(record->buffersBuilt, 1);
    EXPECT_EQ(record->rebuildArgument, 7);
    EXPECT_EQ(record->batchCount, 2);
    ModelBatch* shared = OnlyBatch(base, 0, 0, 2);
    ASSERT_NE(shared, nullptr);
    EXPECT_EQ(shared->vertexCount, 9);
    EXPECT_EQ(shared->indexCount, 15);
    EXPECT_EQ(shared->stride, 64);
    EXPECT_EQ(record->meshes[2].batch, shared);
    EXPECT_EQ(record->meshes[2].firstVertex, 5);
    EXPECT_EQ(record->meshes[2].firstIndex, 6);

    const FakeBuffer* vertices = FakeBufferDevice::Of(shared->vertexBuffer);
    const FakeBuffer* indices = FakeBufferDevice::Of(shared->indexBuffer);
    EXPECT_EQ(vertices->length, 9u * 64u);
    EXPECT_EQ(vertices->usage, kUsageWriteOnly);
    EXPECT_EQ(vertices->format, 0xD2u | 0xA0200u);
    EXPECT_EQ(vertices->pool, kPoolDefault);
    EXPECT_EQ(indices->length, 15u * 2u);
    EXPECT_EQ(indices->format, kFmtIndex16);
    EXPECT_FALSE(vertices->locked || indices->locked) << "left locked";
    EXPECT_EQ(shared->vertexBytes, nullptr);
    for (int32_t mesh : {0, 2}) {
        const ModelMeshEntry& entry = record->meshes[mesh];
        for (int32_t v = 0; v < entry.vertexCount; ++v) {
            SCOPED_TRACE(testing::Message() << "mesh " << mesh << " vertex " << v);
            ExpectFixedVertex(vertices->bytes.data() + (entry.firstVertex + v) * 64, mesh, v, 2);
        }
        for (int32_t i = 0; i < entry.indexCount; ++i) {
            uint16_t index = 0;
            std::memcpy(&index, indices->bytes.data() + 2 * (entry.firstIndex + i), 2);
            EXPECT_EQ(index, TestIndex(mesh, i, entry.vertexCount));
        }
    }
    EXPECT_EQ(FakeBufferDevice::Of(OnlyBatch(base, 0, 0, 1)->vertexBuffer)->length, 3u * 48u);
    // Built already: nothing more.
    const int32_t calls = FakeBufferDevice::Get().calls;
    EXPECT_EQ(BuildBaseBuffers(base, 1), 0);
    EXPECT_EQ(FakeBufferDevice::Get().calls, calls);
}

TEST_F(ModelTest, LayoutsDrawnOnlyByShadersGetNoBuffersWithoutThem)
{
    const int32_t base = CreateTestBase({{0, 1, 0, 3, 3}, {1, 0, 0, 3, 3}, {2, 1, 1, 3, 3}, {0, 0, 0, 3, 3}});
    ASSERT_EQ(BuildBaseBuffers(base, 1), 0);
    EXPECT_EQ(FakeBufferDevice::Get().live.size(), 2u) << "the fixed-function batch's two buffers only";
    EXPECT_EQ(OnlyBatch(base, 0, 1, 0)->vertexBuffer, nullptr);
    ASSERT_EQ(ReleaseBaseBuffers(base), 0);

    UseFacts(ModelDeviceFacts{1, 1, 1, 256, 256});
    ASSERT_EQ(BuildBaseBuffers(base, 1), 0);
    EXPECT_EQ(FakeBufferDevice::Get().live.size(), 8u);
    const ModelBatch* normalMapped = OnlyBatch(base, 0, 1, 0);
    EXPECT_EQ(normalMapped->stride, 56);
    EXPECT_EQ(FakeBufferDevice::Of(normalMapped->vertexBuffer)->format, 0u);
    // Position, the two further vectors, the normal, the colours.
    const uint8_t* at = FakeBufferDevice::Of(normalMapped->vertexBuffer)->bytes.data() + 56;
    float f[12];
    std::memcpy(f, at, sizeof f);
    const Vector3 first = TestNormalData(0, 1, 0);
    const Vector3 second = TestNormalData(0, 1, 1);
    EXPECT_EQ(f[0], TestVertex(0, 1).position.x);
    EXPECT_EQ(f[3], first.x);
    EXPECT_EQ(f[5], first.z);
    EXPECT_EQ(f[6], second.x);
    EXPECT_EQ(f[9], TestVertex(0, 1).normal.x);
    EXPECT_EQ(OnlyBatch(base, 2, 1, 1)->stride, 52 + 16 + 44);
}

TEST_F(ModelTest, NothingIsBuiltWithoutHardwareOrShaders)
{
    const int32_t base = CreateTestBase({{0, 0, 0, 3, 3}});
    for (const ModelDeviceFacts& f : {ModelDeviceFacts{0, 1, 0, 256, 256}, ModelDeviceFacts{1, 0, 1, 256, 256}}) {
        UseFacts(f);
        EXPECT_EQ(BuildBaseBuffers(base, 1), 0);
        EXPECT_EQ(FindModelBase(base)->buffersBuilt, 0);
        EXPECT_EQ(BuildBaseBuffers(0x08001234, 1), 0) << "no device: not even the handle is looked at";
    }
    EXPECT_EQ(FakeBufferDevice::Get().calls, 0);
}

// Twelve meshes of 65535 indices, then one of the given count.
std::vector<TestMeshShape> IndexHeavyMeshes(uint16_t last)
{
    std::vector<TestMeshShape> meshes(12, TestMeshShape{0, 0, 0, 4, 65535});
    meshes.push_back(TestMeshShape{0, 0, 0, 4, last});
    return meshes;
}

TEST_F(ModelTest, BatchesSplitBeforeReachingTheirLimits)
{
    struct Case {
        const char* name;
        std::vector<TestMeshShape> meshes;
        std::vector<int32_t> batchOfMesh;
    };
    const Case cases[] = {
        {"vertices one below", {{0, 0, 0, 196608, 3}, {0, 0, 0, 196607, 3}}, {0, 0}},
        {"vertices reach the limit", {{0, 0, 0, 196608, 3}, {0, 0, 0, 196608, 3}}, {0, 1}},
        // A mesh that alone reaches the limit leaves the empty batch before it, which goes.
        {"one mesh at the limit", {{0, 0, 0, 393216, 3}}, {0}},
        // 12 x 65535 + 12 = 786432 indices.
        {"indices one below", IndexHeavyMeshes(11), {0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0}},
        {"indices reach the limit", IndexHeavyMeshes(12), {0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 1}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        ResetModelState();
        SetModelDeviceFacts(&facts);
        ASSERT_EQ(StartModelSystem(), 0);
        const int32_t base = CreateTestBase(c.meshes);
        ASSERT_EQ(BuildBaseBuffers(base, 1), 0);
        const ModelBaseRecord* record = FindModelBase(base);
        const ModelBatchChain& chain = record->chains[0][0][0];
        std::vector<const ModelBatch*> batches;
        for (const ModelBatch* b = chain.head; b != nullptr; b = b->next) {
            batches.push_back(b);
        }
        ASSERT_EQ(chain.count, static_cast<int32_t>(batches.size()));
        EXPECT_EQ(record->batchCount, chain.count);
        for (size_t m = 0; m < c.meshes.size(); ++m) {
            const ModelMeshEntry& mesh = record->meshes[m];
            ASSERT_LT(static_cast<size_t>(c.batchOfMesh[m]), batches.size());
            EXPECT_EQ(mesh.batch, batches[static_cast<size_t>(c.batchOfMesh[m])]) << "mesh " << m;
        }
        for (const ModelBatch* b : batches) {
            EXPECT_LT(b->vertexCount, 0x60000 + 1);
            EXPECT_GT(b->indexCount, 0);
        }
        const ModelMeshEntry& last = record->meshes[c.meshes.size() - 1];
        ExpectFixedVertex(FakeBufferDevice::Of(last.batch->vertexBuffer)->bytes.data() +
                              static_cast<size_t>(last.firstVertex + last.vertexCount - 1) * 32,
                          static_cast<int32_t>(c.meshes.size() - 1), last.vertexCount - 1, 0);
    }
}

TEST_F(ModelTest, MeshWithoutIndicesIsLeftWithoutBatch)
{
    // Alone in its layout, its batch takes no index and goes; the mesh must not keep it.
    const int32_t base = CreateTestBase({{0, 0, 3, 4, 0}, {0, 0, 0, 3, 3}});
    const int32_t instance = CreateTestInstance(base);
    ASSERT_EQ(BuildBaseBuffers(base, 1), 0);
    const ModelBaseRecord* record = FindModelBase(base);
    EXPECT_EQ(record->meshes[0].batch, nullptr);
    EXPECT_EQ(record->chains[0][0][3].head, nullptr);
    EXPECT_EQ(record->chains[0][0][3].count, 0);
    EXPECT_EQ(record->batchCount, 1);
    const ModelInstanceRecord* copy = FindModelInstance(instance);
    EXPECT_EQ(copy->meshBuffers[0].vertexBuffer, nullptr);
    EXPECT_NE(copy->meshBuffers[1].vertexBuffer, nullptr);
}

TEST_F(ModelTest, FailedBuildReleasesEveryBatch)
{
    for (int32_t failing = 0; failing < 4; ++failing) {
        SCOPED_TRACE(failing);
        const int32_t base = CreateTestBase({{0, 0, 0, 3, 3}, {0, 0, 1, 3, 3}});
        FakeBufferDevice::Get().failCreation = failing;
        FakeBufferDevice::Get().creations = 0;
        EXPECT_EQ(BuildBaseBuffers(base, 1), -1);
        const ModelBaseRecord* record = FindModelBase(base);
        EXPECT_EQ(record->buffersBuilt, 0);
        EXPECT_EQ(record->batchCount, 0);
        EXPECT_EQ(record->chains[0][0][0].head, nullptr);
        EXPECT_EQ(record->meshes[0].batch, nullptr);
        EXPECT_TRUE(FakeBufferDevice::Get().live.empty());
        EXPECT_EQ(DeleteModelBase(base), 0);
    }
    EXPECT_EQ(GetAllocatorTotals().blockCount, blocksBefore + 1) << "all but the slot array";
}

TEST_F(ModelTest, InstanceBuffersFollowTheirBase)
{
    const int32_t base = CreateTestBase({{0, 0, 1, 5, 3}, {0, 1, 0, 4, 3}, {0, 0, 0, 6, 3}});
    const int32_t other = CreateTestBase({{0, 0, 0, 3, 3}});
    const int32_t first = CreateTestInstance(base);
    const int32_t second = CreateTestInstance(base);
    const int32_t unrelated = CreateTestInstance(other);
    ASSERT_EQ(BuildBaseBuffers(base, 1), 0);
    for (int32_t handle : {first, second}) {
        const ModelInstanceRecord* instance = FindModelInstance(handle);
        EXPECT_EQ(instance->bufferChanged, 1);
        const FakeBuffer* buffer = FakeBufferDevice::Of(instance->meshBuffers[0].vertexBuffer);
        ASSERT_NE(buffer, nullptr);
        EXPECT_EQ(buffer->length, 5u * 48u);
        EXPECT_EQ(buffer->usage, kUsageWriteOnly | kUsageDynamic);
        EXPECT_EQ(buffer->format, 0xD2u | 0x20100u);
        EXPECT_EQ(instance->meshBuffers[0].changed, 1);
        // The selector-1 layout has no buffer on a device without shader pairs.
        EXPECT_EQ(instance->meshBuffers[1].vertexBuffer, nullptr);
        EXPECT_EQ(instance->meshBuffers[1].changed, 0);
        EXPECT_EQ(FakeBufferDevice::Of(instance->meshBuffers[2].vertexBuffer)->length, 6u * 32u);
    }
    EXPECT_EQ(FindModelInstance(unrelated)->meshBuffers[0].vertexBuffer, nullptr);
    EXPECT_EQ(FakeBufferDevice::Get().live.size(), 4u + 4u) << "two batches, two meshes of each instance";

    ASSERT_EQ(ReleaseBaseBuffers(base), 0);
    EXPECT_EQ(FindModelBase(base)->buffersBuilt, 0);
    EXPECT_EQ(FindModelBase(base)->meshes[0].batch, nullptr);
    EXPECT_EQ(FindModelInstance(first)->meshBuffers[0].vertexBuffer, nullptr);
    EXPECT_TRUE(FakeBufferDevice::Get().live.empty());
    EXPECT_EQ(ReleaseBaseBuffers(base), 0) << "not built: nothing to do";

    // Shader pairs without a device's buffers: a skinned mesh has no batch to copy a layout from.
    const int32_t skinned = CreateTestBase({{1, 0, 0, 3, 3}});
    const int32_t instance = CreateTestInstance(skinned);
    UseFacts(ModelDeviceFacts{0, 0, 1, 256, 256});
    const int32_t creations = FakeBufferDevice::Get().creations;
    EXPECT_EQ(BuildInstanceBuffers(instance), 0);
    EXPECT_EQ(FindModelInstance(instance)->meshBuffers[0].vertexBuffer, nullptr);
    EXPECT_EQ(FindModelInstance(instance)->meshBuffers[0].changed, 0);
    EXPECT_EQ(FakeBufferDevice::Get().creations, creations);
}

TEST_F(ModelTest, ReleaseAndRebuildOfEveryBase)
{
    const int32_t a = CreateTestBase({{0, 0, 0, 3, 3}});
    ASSERT_EQ(TakeModelSlot(&g_modelRegistry.bases, QUARN_MODEL_PLACEHOLDER), 1);
    const int32_t b = CreateTestBase({{0, 0, 2, 4, 6}});
    const int32_t instance = CreateTestInstance(b);
    ASSERT_EQ(TakeModelSlot(&g_modelRegistry.instances, QUARN_MODEL_PLACEHOLDER), 1);
    ASSERT_EQ(RebuildModelBaseBuffers(), 0);
    EXPECT_EQ(FindModelBase(a)->buffersBuilt, 1);
    EXPECT_EQ(FindModelBase(b)->buffersBuilt, 1);
    EXPECT_EQ(FindModelBase(b)->rebuildArgument, 1);
    EXPECT_EQ(FakeBufferDevice::Get().live.size(), 5u);

    ASSERT_EQ(ReleaseModelDeviceBuffers(), 0);
    EXPECT_TRUE(FakeBufferDevice::Get().live.empty());
    EXPECT_EQ(FindModelBase(a)->buffersBuilt, 0);
    EXPECT_EQ(FindModelInstance(instance)->meshBuffers[0].vertexBuffer, nullptr);

    ASSERT_EQ(RebuildModelBaseBuffers(), 0);
    EXPECT_EQ(FakeBufferDevice::Get().live.size(), 5u);
    const ModelBatch* batch = OnlyBatch(b, 0, 0, 2);
    ExpectFixedVertex(FakeBufferDevice::Of(batch->vertexBuffer)->bytes.data() + 3 * 64, 0, 3, 2);
}

// ---- Handles

TEST_F(ModelTest, RefusesHandlesThatNameNoRecord)
{
    const int32_t base = CreateTestBase({{0, 0, 0, 3, 3}});
    const int32_t instance = CreateTestInstance(base);
    ASSERT_EQ(TakeModelSlot(&g_modelRegistry.bases, QUARN_MODEL_PLACEHOLDER), 1);
    const int32_t placeholder = MakeModelBaseHandle(1);
    for (int32_t handle : {placeholder, MakeModelBaseHandle(2), base | 0x10000000, -1, base & 0x1FFFF,
                           static_cast<int32_t>(0x88000000u)}) {
        SCOPED_TRACE(testing::Message() << std::hex << handle);
        EXPECT_EQ(FindModelBase(handle), nullptr);
        EXPECT_EQ(ReleaseBaseBuffers(handle), -1);
        EXPECT_EQ(BuildBaseBuffers(handle, 1), -1);
    }
    const int32_t wrongCheck = instance ^ 0x00010000;
    for (int32_t handle : {wrongCheck, instance + 1, instance & ~0x78000000, base}) {
        SCOPED_TRACE(testing::Message() << std::hex << handle);
        EXPECT_EQ(FindModelInstance(handle), nullptr);
        EXPECT_EQ(ReleaseInstanceBuffers(handle), -1);
        EXPECT_EQ(BuildInstanceBuffers(handle), -1);
        EXPECT_EQ(DeleteModelInstance(handle), -1);
        EXPECT_EQ(ReleaseInstanceAttachment(handle, 0), -1);
        EXPECT_EQ(FreeInstanceFrameChain(handle, -1), -1);
        EXPECT_EQ(FreeInstanceFrameBlock(handle, -1, 0), -1);
    }
    EXPECT_EQ(FreeInstanceFrameChain(instance, 1), -1) << "the base has one frame";
    EXPECT_EQ(FreeInstanceFrameBlock(instance, -2, 0), -1);
    EXPECT_EQ(ReleaseInstanceAttachment(instance, 2), -1);
    EXPECT_EQ(ReleaseInstanceAttachment(instance, -1), -1);
    EXPECT_EQ(DeleteModelBase(MakeModelBaseHandle(2)), -1);
}

// ---- Deletion and the end

TEST_F(ModelTest, PlaceholdersAreEmptiedWithoutARecord)
{
    ASSERT_EQ(TakeModelSlot(&g_modelRegistry.bases, QUARN_MODEL_PLACEHOLDER), 0);
    ASSERT_EQ(TakeModelSlot(&g_modelRegistry.instances, QUARN_MODEL_PLACEHOLDER), 0);
    EXPECT_EQ(g_modelRegistry.bases.liveCount, 1);
    EXPECT_EQ(DeleteModelBase(MakeModelBaseHandle(0)), 0);
    EXPECT_EQ(g_modelRegistry.bases.slots[0], nullptr);
    EXPECT_EQ(g_modelRegistry.bases.liveCount, 0);
    EXPECT_EQ(DeleteModelBase(MakeModelBaseHandle(0)), -1) << "free now";
    EXPECT_EQ(DeleteModelInstance(MakeModelInstanceHandle(0, 0)), 0);
    EXPECT_EQ(g_modelRegistry.instances.liveCount, 0);
}

TEST_F(ModelTest, InstanceDeletionFreesItsBlocksAndItsBaseReference)
{
    const int32_t base = CreateTestBase({{0, 0, 0, 3, 3}, {0, 0, 1, 4, 3}, {0, 0, 0, 2, 3}},
                                        {{MakeTestTga(2, 2, FlatGrey), {}, 0, 1.0f, 0}});
    const int32_t first = CreateTestInstance(base, 3, {0});
    const int32_t second = CreateTestInstance(base);
    const int32_t third = CreateTestInstance(base);
    ASSERT_EQ(BuildBaseBuffers(base, 1), 0);
    ModelBaseRecord* record = FindModelBase(base);
    ASSERT_EQ(record->referenceCount, 4);

    // The middle one, then the first: the base's chain stays whole.
    ASSERT_EQ(DeleteModelInstance(second), 0);
    EXPECT_EQ(FindModelInstance(first)->next, FindModelInstance(third));
    EXPECT_EQ(FindModelInstance(third)->previous, FindModelInstance(first));
    ASSERT_EQ(DeleteModelInstance(first), 0);
    EXPECT_EQ(record->firstInstance, FindModelInstance(third));
    EXPECT_EQ(record->lastInstance, FindModelInstance(third));
    EXPECT_EQ(record->instanceCount, 1);
    EXPECT_EQ(record->referenceCount, 2);
    EXPECT_EQ(DeleteModelInstance(first), -1);

    ASSERT_EQ(DeleteModelBase(base), 0);
    EXPECT_EQ(FindModelBase(base), record) << "the last instance still holds it";
    ASSERT_EQ(DeleteModelInstance(third), 0);
    EXPECT_EQ(FindModelBase(base), nullptr);
    EXPECT_EQ(g_modelRegistry.bases.liveCount, 0);
    EXPECT_EQ(g_modelRegistry.instances.liveCount, 0);
    EXPECT_TRUE(FakeBufferDevice::Get().live.empty());
    // Everything the creator made is gone; only the slot arrays remain.
    EXPECT_EQ(GetAllocatorTotals().blockCount, blocksBefore + 2);
}

TEST_F(ModelTest, AttachmentReleaseClearsItsColumnOnce)
{
    const int32_t base = CreateTestBase({{0, 0, 0, 3, 3}, {0, 0, 0, 3, 3}});
    const int32_t instance = CreateTestInstance(base, 2);
    ModelInstanceRecord* record = FindModelInstance(instance);
    record->grid[2] = ModelAttachmentCell{1, {5, 5}};  // attachment 1, frame 0
    ASSERT_EQ(ReleaseInstanceAttachment(instance, 0), 0);
    EXPECT_EQ(record->attachments[0].inUse, 0);
    EXPECT_EQ(record->attachments[0].block, nullptr);
    EXPECT_EQ(record->grid[0].used, 0);
    EXPECT_EQ(record->grid[1].used, 0);
    EXPECT_EQ(record->grid[2].used, 1) << "another attachment's column";
    EXPECT_EQ(record->gridUseCount, 0);
    EXPECT_EQ(record->attachmentState[0], 0);
    EXPECT_EQ(ReleaseInstanceAttachment(instance, 0), 0);
    EXPECT_EQ(record->gridUseCount, 0) << "not in use any more: the count stays";
}

TEST_F(ModelTest, ShutDownDeletesEverythingAndStops)
{
    const int32_t base = CreateTestBase({{0, 0, 0, 3, 3}}, {{MakeTestTga(2, 2, FlatGrey), {}, 1, 2.0f, 0}});
    CreateTestInstance(base, 1, {0});
    ASSERT_EQ(TakeModelSlot(&g_modelRegistry.instances, QUARN_MODEL_PLACEHOLDER), 1);
    CreateTestBase({{0, 0, 0, 3, 3}});
    ASSERT_EQ(TakeModelSlot(&g_modelRegistry.bases, QUARN_MODEL_PLACEHOLDER), 2);
    ASSERT_EQ(RebuildModelBaseBuffers(), 0);
    ASSERT_EQ(ShutDownModelSystem(), 0);
    EXPECT_EQ(g_modelRegistry.started, 0);
    EXPECT_EQ(g_modelRegistry.bases.slots, nullptr);
    EXPECT_EQ(g_modelRegistry.bases.count, 0);
    EXPECT_EQ(g_modelRegistry.instances.capacity, 0);
    EXPECT_TRUE(FakeBufferDevice::Get().live.empty());
    EXPECT_EQ(GetAllocatorTotals().blockCount, blocksBefore);
    EXPECT_EQ(ShutDownModelSystem(), 0);
}

TEST_F(ModelTest, RestoreBuildsTexturesOfBasesAndOverriddenInstanceEntries)
{
    // No graph exists, so each texture build ends at its graph's refusal: the build itself must
    // leave nothing behind, and the walk must read only the entries it should.
    const int32_t base = CreateTestBase({{0, 0, 0, 3, 3}},
                                        {{MakeTestTga(3, 5, FlatGrey), MakeTestTga(3, 5, FlatGrey), 1, 1.0f, 0},
                                         {{}, MakeTestTga(2, 2, FlatGrey), 0, 1.0f, 0}});
    CreateTestInstance(base, 0, {1});
    ASSERT_EQ(TakeModelSlot(&g_modelRegistry.instances, QUARN_MODEL_PLACEHOLDER), 1);
    const int32_t blocks = GetAllocatorTotals().blockCount;
    EXPECT_EQ(RestoreModelTextures(), 0);
    EXPECT_EQ(GetAllocatorTotals().blockCount, blocks);
    EXPECT_EQ(FakeBufferDevice::Get().calls, 0);
}

}  // namespace

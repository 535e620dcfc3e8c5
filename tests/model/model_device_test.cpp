// The model registry on Wine's Direct3D 9 device: the buffers a base and its instances build,
// described and read back through the device's own objects, their release and rebuild across
// a device restart, and the registry's start and end with the library.
#include <gtest/gtest.h>

#include <d3d9.h>

#include <vector>

#include "quarn/graphics/graphics_win.h"
#include "quarn/model/model.h"
#include "quarn/model/model_os.h"
#include "quarn/runtime/runtime.h"
#include "tests/graphics/screen_fixture.h"
#include "tests/model/model_creator.h"
#include "tests/model/vertex_check.h"

namespace {

class ModelDeviceTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        ResetModelState();
        ASSERT_NO_FATAL_FAILURE(PrepareSoftwareScreen(300, 60, L"model test"));
        ASSERT_EQ(RequestHardwareRendering(1), 0);
        ASSERT_NO_FATAL_FAILURE(StartWindowAndGraphics());
        ASSERT_EQ(g_screenSettings.hardwareActive, 1) << "the device did not start";
        ASSERT_EQ(StartModelSystem(), 0);
        ASSERT_EQ(g_modelRegistry.started, 1);
        ASSERT_EQ(SystemModelDeviceFacts().shaderCapable, 1) << "the buffers are built only with shader 2.0";
    }
    void TearDown() override
    {
        ShutDownModelSystem();
        EndSoftwareScreen();
        ResetModelState();
    }

    static IDirect3DVertexBuffer9* VertexBufferOf(void* buffer) { return static_cast<IDirect3DVertexBuffer9*>(buffer); }
    static IDirect3DIndexBuffer9* IndexBufferOf(void* buffer) { return static_cast<IDirect3DIndexBuffer9*>(buffer); }

    // The buffer's bytes, read through a read-only lock of the device's object.
    static std::vector<uint8_t> ReadBack(void* buffer, bool index)
    {
        void* bytes = nullptr;
        UINT size = 0;
        HRESULT locked;
        if (index) {
            D3DINDEXBUFFER_DESC desc{};
            IndexBufferOf(buffer)->GetDesc(&desc);
            size = desc.Size;
            locked = IndexBufferOf(buffer)->Lock(0, 0, &bytes, D3DLOCK_READONLY);
        } else {
            D3DVERTEXBUFFER_DESC desc{};
            VertexBufferOf(buffer)->GetDesc(&desc);
            size = desc.Size;
            locked = VertexBufferOf(buffer)->Lock(0, 0, &bytes, D3DLOCK_READONLY);
        }
        if (FAILED(locked) || bytes == nullptr) {
            ADD_FAILURE() << "lock failed";
            return {};
        }
        std::vector<uint8_t> copy(static_cast<const uint8_t*>(bytes), static_cast<const uint8_t*>(bytes) + size);
        if (index) {
            IndexBufferOf(buffer)->Unlock();
        } else {
            VertexBufferOf(buffer)->Unlock();
        }
        return copy;
    }

    // The device a buffer of either kind belongs to.
    static IDirect3DDevice9* DeviceOf(void* buffer)
    {
        IDirect3DDevice9* device = nullptr;
        static_cast<IDirect3DResource9*>(buffer)->GetDevice(&device);
        if (device != nullptr) {
            device->Release();
        }
        return device;
    }

    // Every mesh of the base in its batch's buffers, as the creator made it.
    static void ExpectBaseContents(int32_t handle)
    {
        const ModelBaseRecord* base = FindModelBase(handle);
        ASSERT_NE(base, nullptr);
        ASSERT_EQ(base->buffersBuilt, 1);
        for (int32_t m = 0; m < base->meshCount; ++m) {
            SCOPED_TRACE(testing::Message() << "mesh " << m);
            const ModelMeshEntry& mesh = base->meshes[m];
            ASSERT_NE(mesh.batch, nullptr);
            const std::vector<uint8_t> vertices = ReadBack(mesh.batch->vertexBuffer, false);
            const std::vector<uint8_t> indices = ReadBack(mesh.batch->indexBuffer, true);
            ASSERT_EQ(vertices.size(), static_cast<size_t>(mesh.batch->vertexCount) * mesh.batch->stride);
            ASSERT_EQ(indices.size(), static_cast<size_t>(mesh.batch->indexCount) * 2);
            for (int32_t v = 0; v < mesh.vertexCount; ++v) {
                ExpectFixedVertex(vertices.data() + static_cast<size_t>(mesh.firstVertex + v) * mesh.batch->stride, m,
                                  v, mesh.texCoordSets);
            }
            for (int32_t i = 0; i < mesh.indexCount; ++i) {
                const uint16_t index = static_cast<uint16_t>(indices[2 * (mesh.firstIndex + i)] |
                                                             indices[2 * (mesh.firstIndex + i) + 1] << 8);
                EXPECT_EQ(index, TestIndex(m, i, mesh.vertexCount));
            }
        }
    }
};

TEST_F(ModelDeviceTest, BuffersOnTheDeviceCarryTheLayoutTheirFvfDescribes)
{
    const int32_t base = CreateTestBase({{0, 0, 2, 5, 6}, {0, 0, 0, 3, 3}, {0, 0, 2, 4, 9}});
    const int32_t instance = CreateTestInstance(base);
    ASSERT_EQ(BuildBaseBuffers(base, 1), 0);
    ASSERT_NO_FATAL_FAILURE(ExpectBaseContents(base));

    const ModelBatch* shared = FindModelBase(base)->meshes[2].batch;
    D3DVERTEXBUFFER_DESC vertexDesc{};
    ASSERT_EQ(VertexBufferOf(shared->vertexBuffer)->GetDesc(&vertexDesc), D3D_OK);
    EXPECT_EQ(vertexDesc.FVF, 0xD2u | 0xA0200u);
    EXPECT_EQ(vertexDesc.Size, 9u * 64u);
    EXPECT_EQ(vertexDesc.Pool, D3DPOOL_DEFAULT);
    EXPECT_NE(vertexDesc.Usage & D3DUSAGE_WRITEONLY, 0u);
    D3DINDEXBUFFER_DESC indexDesc{};
    ASSERT_EQ(IndexBufferOf(shared->indexBuffer)->GetDesc(&indexDesc), D3D_OK);
    EXPECT_EQ(indexDesc.Format, D3DFMT_INDEX16);
    EXPECT_EQ(indexDesc.Size, 15u * 2u);

    // The device draws from the buffers with the stride the layout gives: a triangle of the
    // shared batch lands in the back buffer without a complaint from the device.
    IDirect3DDevice9* device = g_graphicsDevice.device;
    ASSERT_EQ(device->SetFVF(shared->fvf), D3D_OK);
    ASSERT_EQ(device->SetStreamSource(0, VertexBufferOf(shared->vertexBuffer), 0, static_cast<UINT>(shared->stride)),
              D3D_OK);
    ASSERT_EQ(device->SetIndices(IndexBufferOf(shared->indexBuffer)), D3D_OK);
    ASSERT_EQ(device->BeginScene(), D3D_OK);
    EXPECT_EQ(device->DrawIndexedPrimitive(D3DPT_TRIANGLELIST, 0, 0, 9, 0, 5), D3D_OK);
    device->EndScene();
    device->SetStreamSource(0, nullptr, 0, 0);
    device->SetIndices(nullptr);

    const ModelInstanceRecord* copy = FindModelInstance(instance);
    D3DVERTEXBUFFER_DESC instanceDesc{};
    ASSERT_NE(copy->meshBuffers[0].vertexBuffer, nullptr);
    ASSERT_EQ(VertexBufferOf(copy->meshBuffers[0].vertexBuffer)->GetDesc(&instanceDesc), D3D_OK);
    EXPECT_EQ(instanceDesc.Size, 5u * 64u);
    EXPECT_EQ(instanceDesc.Usage, static_cast<DWORD>(D3DUSAGE_WRITEONLY | D3DUSAGE_DYNAMIC));
    EXPECT_EQ(instanceDesc.FVF, 0xD2u | 0xA0200u);
}

TEST_F(ModelDeviceTest, ForcedDeviceRestartReleasesAndRebuildsOnTheNewDevice)
{
    const int32_t base = CreateTestBase({{0, 0, 1, 6, 6}, {0, 0, 0, 3, 3}});
    const int32_t instance = CreateTestInstance(base);
    ASSERT_EQ(RebuildModelBaseBuffers(), 0);
    ASSERT_NO_FATAL_FAILURE(ExpectBaseContents(base));
    const IDirect3DDevice9* before = g_graphicsDevice.device;
    ASSERT_EQ(DeviceOf(FindModelBase(base)->meshes[0].batch->vertexBuffer), before);

    ASSERT_EQ(RestartGraphicsDevice(0, -1, -1, -1, -1), 0);
    ASSERT_EQ(g_screenSettings.hardwareActive, 1);
    IDirect3DDevice9* after = g_graphicsDevice.device;
    const ModelBaseRecord* record = FindModelBase(base);
    ASSERT_EQ(record->buffersBuilt, 1);
    for (int32_t m = 0; m < record->meshCount; ++m) {
        EXPECT_EQ(DeviceOf(record->meshes[m].batch->vertexBuffer), after) << "mesh " << m;
        EXPECT_EQ(DeviceOf(record->meshes[m].batch->indexBuffer), after) << "mesh " << m;
        EXPECT_EQ(DeviceOf(FindModelInstance(instance)->meshBuffers[m].vertexBuffer), after) << "mesh " << m;
    }
    ASSERT_NO_FATAL_FAILURE(ExpectBaseContents(base));

    // A restart into another mode does the same.
    ASSERT_EQ(RestartGraphicsDevice(1, 320, 100, -1, -1), 0);
    ASSERT_EQ(DeviceOf(FindModelBase(base)->meshes[1].batch->vertexBuffer), g_graphicsDevice.device);
    ASSERT_NO_FATAL_FAILURE(ExpectBaseContents(base));
}

TEST_F(ModelDeviceTest, ReleaseDropsTheRegistrysReferencesAndEndOfGraphicsReleases)
{
    const int32_t base = CreateTestBase({{0, 0, 0, 3, 3}});
    const int32_t instance = CreateTestInstance(base);
    ASSERT_EQ(BuildBaseBuffers(base, 1), 0);
    void* buffers[3] = {FindModelBase(base)->meshes[0].batch->vertexBuffer,
                        FindModelBase(base)->meshes[0].batch->indexBuffer,
                        FindModelInstance(instance)->meshBuffers[0].vertexBuffer};
    for (void* buffer : buffers) {
        static_cast<IDirect3DResource9*>(buffer)->AddRef();
    }
    ASSERT_EQ(ReleaseModelDeviceBuffers(), 0);
    for (void* buffer : buffers) {
        EXPECT_EQ(static_cast<IDirect3DResource9*>(buffer)->Release(), 0u) << "the registry kept a reference";
    }

    // The end of graphics takes the device, and the buffers with it first.
    ASSERT_EQ(BuildBaseBuffers(base, 1), 0);
    ASSERT_EQ(ShutDownGraphics(), 0);
    EXPECT_EQ(FindModelBase(base)->buffersBuilt, 0);
    EXPECT_EQ(FindModelBase(base)->meshes[0].batch, nullptr);
    EXPECT_EQ(FindModelInstance(instance)->meshBuffers[0].vertexBuffer, nullptr);
    ASSERT_EQ(InitializeGraphics(), 0);
}

TEST(ModelLibraryStartUp, RegistryStartsOnTheDirect3DPathAndEndsWithTheLibrary)
{
    ResetModelState();
    EnableLogFile(0);
    ChangeWindowMode(1);
    AssignWindowTitle(L"QuarnModelStartUpTest");
    ASSERT_EQ(RequestHardwareRendering(1), 0);
    ASSERT_EQ(InitializeLibrary(), 0);
    EXPECT_EQ(g_screenSettings.hardwareActive, 1);
    EXPECT_EQ(g_modelRegistry.started, 1);
    EXPECT_EQ(g_modelRegistry.sine[16384], 1.0f);
    RunLibraryShutDown();
    EXPECT_EQ(g_modelRegistry.started, 0);
    RequestHardwareRendering(0);
}

}  // namespace

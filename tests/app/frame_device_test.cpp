// Vornik's frame on the Direct3D 9 device, in this process: what a frame asks of the device
// once its glyphs are in the glyph texture. The device is counted through its call table, so
// that a frame that flushes more than once, sends a state it already holds or binds its
// texture anew shows here, where a benchmark would only see a slower frame.
#include <gtest/gtest.h>

#include <vector>

#include "app/frame.h"
#include "app/tally.h"
#include "quarn/core/screen_settings.h"
#include "quarn/graphics/d3d9/device_state.h"
#include "quarn/quarn.h"
#include "quarn/runtime/runtime.h"
#include "quarn/system/system.h"

namespace {

struct DeviceCallCounts {
    int draws = 0;
    int renderStates = 0;
    int samplerStates = 0;
    int stageStates = 0;
    int textures = 0;
    int scenesBegun = 0;
    int scenesEnded = 0;
};

const DeviceCalls* s_real = nullptr;
DeviceCallCounts s_counts;

int32_t CountDraw(uint32_t type, uint32_t count, const void* vertices, uint32_t stride)
{
    ++s_counts.draws;
    return s_real->drawPrimitiveUp(type, count, vertices, stride);
}
int32_t CountIndexedDraw(uint32_t type, uint32_t vertexCount, uint32_t primitiveCount, const uint16_t* indices,
                         const void* vertices, uint32_t stride)
{
    ++s_counts.draws;
    return s_real->drawIndexedPrimitiveUp(type, vertexCount, primitiveCount, indices, vertices, stride);
}
int32_t CountRenderState(uint32_t state, uint32_t value)
{
    ++s_counts.renderStates;
    return s_real->setRenderState(state, value);
}
int32_t CountSamplerState(uint32_t sampler, uint32_t type, uint32_t value)
{
    ++s_counts.samplerStates;
    return s_real->setSamplerState(sampler, type, value);
}
int32_t CountStageState(uint32_t stage, uint32_t type, uint32_t value)
{
    ++s_counts.stageStates;
    return s_real->setTextureStageState(stage, type, value);
}
int32_t CountTexture(uint32_t stage, void* texture)
{
    ++s_counts.textures;
    return s_real->setTexture(stage, texture);
}
int32_t CountBeginScene()
{
    ++s_counts.scenesBegun;
    return s_real->beginScene();
}
int32_t CountEndScene()
{
    ++s_counts.scenesEnded;
    return s_real->endScene();
}

// The device's own calls, with the counted ones passing through the counters.
DeviceCalls CountingCalls(const DeviceCalls& real)
{
    DeviceCalls calls = real;
    calls.drawPrimitiveUp = CountDraw;
    calls.drawIndexedPrimitiveUp = CountIndexedDraw;
    calls.setRenderState = CountRenderState;
    calls.setSamplerState = CountSamplerState;
    calls.setTextureStageState = CountStageState;
    calls.setTexture = CountTexture;
    calls.beginScene = CountBeginScene;
    calls.endScene = CountEndScene;
    return calls;
}

TEST(VornikFrameOnTheDevice, ASteadyFrameIsOneSceneAndOneDrawWithNoStateSentAgain)
{
    configure_vornik();
    ASSERT_EQ(RequestHardwareRendering(1), 0);
    start_vornik();
    ASSERT_EQ(g_screenSettings.hardwareActive, 1) << "the device did not start";
    RunningTally tally;
    VornikFrame frame = begin_vornik_frames();
    run_vornik_frame(frame, tally);
    // Every character the tally's text can show goes into the glyph texture first, so that
    // no frame below adds one as the seconds turn.
    DrawTextWithStandardFont(10, 10, L"0123456789days :", frame.white, 0);
    run_vornik_frame(frame, tally);
    run_vornik_frame(frame, tally);

    s_real = CurrentDeviceCalls();
    ASSERT_NE(s_real, nullptr);
    const DeviceCalls counting = CountingCalls(*s_real);
    UseDeviceCalls(&counting);
    std::vector<DeviceCallCounts> frames;
    for (int i = 0; i < 4; ++i) {
        s_counts = DeviceCallCounts{};
        run_vornik_frame(frame, tally);
        frames.push_back(s_counts);
    }
    UseDeviceCalls(s_real);
    RunLibraryShutDown();
    // Vornik's settings outlive the library's end; the next test starts from a fresh process's.
    ResetSystemState();
    ResetScreenSettings();

    for (size_t i = 0; i < frames.size(); ++i) {
        const DeviceCallCounts& c = frames[i];
        SCOPED_TRACE(testing::Message() << "frame " << i);
        EXPECT_EQ(c.scenesBegun, 1);
        EXPECT_EQ(c.scenesEnded, 1);
        // Both lines of text share the glyph texture and the states: one batch, one draw.
        EXPECT_EQ(c.draws, 1);
        // The previous frame left every state and the texture as this one needs them.
        EXPECT_EQ(c.renderStates, 0);
        EXPECT_EQ(c.samplerStates, 0);
        EXPECT_EQ(c.stageStates, 0);
        EXPECT_EQ(c.textures, 0);
    }
}

}  // namespace

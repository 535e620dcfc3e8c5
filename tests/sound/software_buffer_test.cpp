// The playback buffers, the software buffers' table and feeding step, and the WAV capture's
// end, over a stand-in device whose buffers are byte arrays with a play cursor the test steps.
#include <gtest/gtest.h>

#include <cstring>
#include <deque>
#include <vector>

#include "quarn/core/core.h"
#include "quarn/sound/sound_os.h"
#include "quarn/sound/sound_state.h"
#include "tests/sound/fake_sound_device.h"

namespace {

int g_anyObject;

// A started sound system over the stand-in device; every case leaves the table empty and the
// allocator where it was.
class SoundBufferTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        SetSoundOsApi(FakeSoundDevice());
        InitializeSoundLock();
        g_soundSystem.directSound = reinterpret_cast<IDirectSound*>(&g_anyObject);
        MakeEmptyHandleChain(&g_soundSystem.mixHead, &g_soundSystem.mixTail);
        before = GetAllocatorTotals();
    }
    void TearDown() override
    {
        DestroyOwnedMixBuffers();
        DestroyUnownedMixBuffers();
        EXPECT_EQ(SoftwareMixBufferTable()->liveCount, 0);
        EXPECT_EQ(GetAllocatorTotals().blockCount, before.blockCount);
        ResetSoundState();
        DeleteSoundLock();
        SetSoundOsApi(nullptr);
    }

    // A kind-1 player of 16-bit stereo (or the given format) over a device buffer of size
    // bytes, writing at write with the given lead, in the table and the list.
    SoftwareMixBuffer* Player(FakeBuffer* device, int32_t write, int32_t lead, uint16_t bits = 16,
                              uint16_t channels = 2)
    {
        auto* p = static_cast<SoftwareMixBuffer*>(AllocTrackedMemoryZeroed(sizeof(SoftwareMixBuffer), "", 0));
        p->kind = 1;
        p->format = WaveFormat{1, channels, 44100, 0, static_cast<uint16_t>(bits / 8 * channels), bits, 0};
        p->playback.present = 1;
        p->playback.directSoundBuffer = AsDevice(device);
        p->bufferSize = static_cast<int32_t>(device->bytes.size());
        p->writePosition = write;
        p->endPosition = -1;
        p->lead = lead;
        p->active = 1;
        handle = AddSoftwareMixBuffer(p);
        return p;
    }

    static void Queue(SoftwareMixBuffer* p, const std::vector<uint8_t>& bytes)
    {
        RingBuffer* r = &p->ring;
        ASSERT_EQ(ReserveRingBuffer(r, static_cast<int32_t>(bytes.size())), 0);
        for (uint8_t b : bytes) {
            if (r->writePos == r->size) {
                r->writePos = 0;
            }
            r->data[r->writePos++] = b;
        }
        r->held += static_cast<int32_t>(bytes.size());
        p->queuedFrames += static_cast<int32_t>(bytes.size()) / p->format.blockAlign;
    }

    static std::vector<uint8_t> Count(uint8_t from, size_t n)
    {
        std::vector<uint8_t> v(n);
        for (size_t i = 0; i < n; ++i) {
            v[i] = static_cast<uint8_t>(from + i);
        }
        return v;
    }

    // A device buffer of that many bytes, living until the case's records are destroyed.
    FakeBuffer& Device(size_t bytes)
    {
        devices.emplace_back();
        devices.back().bytes.assign(bytes, 0xEE);
        return devices.back();
    }

    std::deque<FakeBuffer> devices;
    AllocatorTotals before{};
    int32_t handle = -1;
};

// The fixtures' reset leaves nothing of a previous case behind: the sound system's record and
// the MIDI playback record (its current music and MCI device included) read as in a fresh
// process.
TEST(SoundState, ResetClearsTheSoundAndMidiRecords)
{
    g_soundSystem.midiMode = 1;
    g_soundSystem.softwareMixing = 1;
    g_midiPlayback = MidiPlaybackState{7, 1, 1, 1, 0x12345, 1};
    ResetSoundState();
    EXPECT_EQ(g_soundSystem.midiMode, 0);
    EXPECT_EQ(g_soundSystem.softwareMixing, 0);
    EXPECT_EQ(g_midiPlayback.mciDevice, 0u);
    EXPECT_EQ(g_midiPlayback.loop, 0);
    EXPECT_EQ(g_midiPlayback.playing, 0);
    EXPECT_EQ(g_midiPlayback.tempFileExists, 0);
    EXPECT_EQ(g_midiPlayback.currentMusic, 0);
    EXPECT_EQ(g_midiPlayback.currentMusicKind, 0);
}

TEST_F(SoundBufferTest, DecibelLawOfTheSoftwareBranch)
{
    g_soundSystem.softwareMixing = 1;
    SoundBufferRecord b{};
    b.present = 1;
    const struct {
        int32_t volume, gain;
    } volumes[] = {{-10000, 0}, {-1, 255}, {-100, 203}, {-1000, 25}, {-2000, 2}, {-3000, 0}, {0, 256}};
    for (const auto& c : volumes) {
        EXPECT_EQ(SetBufferGain(&b, c.volume), 0);
        EXPECT_EQ(b.volume, c.gain) << "volume " << c.volume;
    }
    const struct {
        int32_t pan, stored;
    } pans[] = {{10000, 256}, {-10000, -256}, {100, 203}, {-100, -203}, {5000, 0}, {0, 0}, {-1, -255}};
    for (const auto& c : pans) {
        EXPECT_EQ(SetBufferBalance(&b, c.pan), 0);
        EXPECT_EQ(b.pan, c.stored) << "pan " << c.pan;
    }
    EXPECT_EQ(SetBufferRate(&b, 0), 0);
    EXPECT_EQ(b.frequency, -1);
    EXPECT_EQ(SetBufferRate(&b, 22050), 0);
    EXPECT_EQ(b.frequency, 22050);
}

TEST_F(SoundBufferTest, SoftwareBranchKeepsThePlayingStateInTheRecord)
{
    g_soundSystem.softwareMixing = 1;
    SoundBufferRecord b{};
    b.present = 1;
    b.format.blockAlign = 4;
    b.length = 150;
    b.data = static_cast<uint8_t*>(AllocTrackedMemoryZeroed(600, "", 0));
    uint32_t status = 9;
    EXPECT_EQ(StartBufferPlayback(&b, 1), 0);
    EXPECT_EQ(QueryBufferStatus(&b, &status), 0);
    EXPECT_EQ(status, 1u);
    EXPECT_EQ(b.loop, 1);
    EXPECT_EQ(HaltBufferPlayback(&b), 0);
    EXPECT_EQ(QueryBufferStatus(&b, &status), 0);
    EXPECT_EQ(status, 0u);
    EXPECT_EQ(QueryBufferStatus(&b, nullptr), 0);
    EXPECT_EQ(SetBufferCursor(&b, 403), 0);
    EXPECT_EQ(b.cursor, 100u);

    uint8_t* p1 = nullptr;
    uint8_t* p2 = nullptr;
    uint32_t n1 = 0;
    uint32_t n2 = 0;
    // 400 bytes at 300 on 600: 300 to the end, 100 from the start.
    ASSERT_EQ(LockBufferRegion(&b, 300, 400, &p1, &n1, &p2, &n2), 0);
    EXPECT_EQ(p1, b.data + 300);
    EXPECT_EQ(n1, 300u);
    EXPECT_EQ(p2, b.data);
    EXPECT_EQ(n2, 100u);
    ASSERT_EQ(LockBufferRegion(&b, 100, 40, &p1, &n1, &p2, &n2), 0);
    EXPECT_EQ(p1, b.data + 100);
    EXPECT_EQ(n1, 40u);
    EXPECT_EQ(p2, nullptr);
    EXPECT_EQ(n2, 0u);
    EXPECT_EQ(UnlockBufferRegion(&b, p1, n1, p2, n2), 0);
    // Ranges whose parts would reach outside the data are refused.
    EXPECT_EQ(LockBufferRegion(&b, 300, 1200, &p1, &n1, &p2, &n2), -1) << "longer than the data";
    EXPECT_EQ(LockBufferRegion(&b, 600, 4, &p1, &n1, &p2, &n2), -1) << "starts past the end";
    EXPECT_EQ(LockBufferRegion(&b, 0xFFFFFFF0u, 8, &p1, &n1, &p2, &n2), -1);

    EXPECT_EQ(ReleaseBufferBackend(&b), 0);
    EXPECT_EQ(b.data, nullptr);
    EXPECT_EQ(b.present, 0);
}

TEST_F(SoundBufferTest, EveryOperationRefusesARecordThatIsNotPresent)
{
    FakeBuffer& device = Device(0);
    for (int32_t software : {0, 1}) {
        g_soundSystem.softwareMixing = software;
        SoundBufferRecord b{};
        b.directSoundBuffer = AsDevice(&device);
        b.volume = 77;
        b.format.blockAlign = 4;
        uint8_t* p = nullptr;
        uint32_t n = 0;
        uint32_t status = 5;
        EXPECT_EQ(ReleaseBufferBackend(&b), -1);
        EXPECT_EQ(StartBufferPlayback(&b, 1), -1);
        EXPECT_EQ(HaltBufferPlayback(&b), -1);
        EXPECT_EQ(QueryBufferStatus(&b, &status), -1);
        EXPECT_EQ(LockBufferRegion(&b, 0, 4, &p, &n, &p, &n), -1);
        EXPECT_EQ(UnlockBufferRegion(&b, p, n, p, n), -1);
        EXPECT_EQ(SetBufferRate(&b, 0), -1);
        EXPECT_EQ(SetBufferBalance(&b, 100), -1);
        EXPECT_EQ(SetBufferGain(&b, -100), -1);
        EXPECT_EQ(SetBufferCursor(&b, 8), -1);
        EXPECT_EQ(b.volume, 77);
        EXPECT_EQ(b.frequency, 0);
        EXPECT_EQ(b.playing, 0);
        EXPECT_EQ(status, 5u);
        EXPECT_EQ(device.released, 0);
    }
}

TEST_F(SoundBufferTest, DeviceBranchHandsBackThePlayResultAndReleasesTheBuffer)
{
    FakeBuffer& device = Device(16);
    SoundBufferRecord b{};
    b.present = 1;
    b.directSoundBuffer = AsDevice(&device);
    device.playResult = 0x88780078;
    device.failStatus = true;
    EXPECT_EQ(StartBufferPlayback(&b, 0), static_cast<int32_t>(0x88780078));
    EXPECT_EQ(QueryBufferStatus(&b, nullptr), -1) << "GetStatus failed";
    EXPECT_EQ(b.playing, 0) << "the record's own state is the software branch's";
    EXPECT_EQ(ReleaseBufferBackend(&b), 0);
    EXPECT_EQ(device.released, 1);
    EXPECT_EQ(b.directSoundBuffer, nullptr);
}

TEST_F(SoundBufferTest, FramesToMilliseconds)
{
    EXPECT_EQ(FramesToMs(44100, 44100), 1000);
    EXPECT_EQ(FramesToMs(22050, 44100), 500);
    EXPECT_EQ(FramesToMs(1, 44100), 0) << "truncates";
    EXPECT_EQ(FramesToMs(0x7FFFFFFF, 1000), 0x7FFFFFFF) << "the product does not overflow";
}

TEST_F(SoundBufferTest, DestroyRefusesForeignHandlesAndLowersTheHighWater)
{
    FakeBuffer& device = Device(64);
    auto* unowned = static_cast<SoftwareMixBuffer*>(AllocTrackedMemoryZeroed(sizeof(SoftwareMixBuffer), "", 0));
    unowned->dataBlock = static_cast<uint8_t*>(AllocTrackedMemory(32, "", 0));
    const int32_t h0 = AddSoftwareMixBuffer(unowned);
    Player(&device, 0, 16);
    const int32_t h1 = handle;
    Player(&device, 0, 16);
    const int32_t h2 = handle;
    ASSERT_EQ(HandleSlotOf(h2), 2);
    EXPECT_EQ(g_soundSystem.mixHead.next->handle, h1) << "players are in the list in order";
    EXPECT_EQ(g_soundSystem.mixHead.next->next->handle, h2);

    const int32_t refused[] = {-1,
                               h1 ^ 0x10000000,                                               // another type
                               MakeHandle(kHandleTypeSoftSoundBuffer, 0, 8192),               // out of range
                               MakeHandle(kHandleTypeSoftSoundBuffer, HandleCheckOf(h1), 5),  // free
                               h1 ^ 0x00010000};                                              // stale
    for (int32_t h : refused) {
        EXPECT_EQ(DestroySoftwareMixBuffer(h, 1), -1) << std::hex << h;
    }
    EXPECT_EQ(DestroySoftwareMixBuffer(h0, 1), -1) << "of the other kind";
    EXPECT_EQ(SoftwareMixBufferTable()->liveCount, 3);

    EXPECT_EQ(DestroySoftwareMixBuffer(h1, 1), 0);
    EXPECT_EQ(device.released, 1);
    EXPECT_EQ(SoftwareMixBufferTable()->highWater, 3);
    EXPECT_EQ(DestroySoftwareMixBuffer(h2, 1), 0);
    EXPECT_EQ(SoftwareMixBufferTable()->highWater, 1) << "one past the next occupied slot below";
    EXPECT_EQ(g_soundSystem.mixHead.next, &g_soundSystem.mixTail);
    EXPECT_EQ(DestroySoftwareMixBuffer(h2, 1), -1) << "already gone";
    EXPECT_EQ(DestroySoftwareMixBuffer(h0, 0), 0);
    EXPECT_EQ(SoftwareMixBufferTable()->highWater, 0);
}

TEST_F(SoundBufferTest, DeleteAllTakesOnlyItsKindAndNothingWhileNotStarted)
{
    FakeBuffer& device = Device(64);
    Player(&device, 0, 16);
    auto* unowned = static_cast<SoftwareMixBuffer*>(AllocTrackedMemoryZeroed(sizeof(SoftwareMixBuffer), "", 0));
    AddSoftwareMixBuffer(unowned);
    g_soundSystem.directSound = nullptr;
    EXPECT_EQ(DestroyOwnedMixBuffers(), -1);
    EXPECT_EQ(SoftwareMixBufferTable()->liveCount, 2);
    g_soundSystem.directSound = reinterpret_cast<IDirectSound*>(&g_anyObject);
    EXPECT_EQ(DestroyOwnedMixBuffers(), 0);
    EXPECT_EQ(SoftwareMixBufferTable()->liveCount, 1);
    EXPECT_EQ(DestroyOwnedMixBuffers(), 0);
    EXPECT_EQ(DestroyUnownedMixBuffers(), 0);
    EXPECT_EQ(SoftwareMixBufferTable()->liveCount, 0);
    EXPECT_EQ(DestroyUnownedMixBuffers(), 0) << "an empty table";
}

// 16-bit stereo, a 64-byte device buffer, lead 16: each step writes from the write position
// up to 2 x lead bytes ahead of the play position.
TEST_F(SoundBufferTest, FeedingFollowsThePlayCursorAndWrapsAtTheBufferEnd)
{
    FakeBuffer& device = Device(64);
    SoftwareMixBuffer* p = Player(&device, 16, 16);
    Queue(p, Count(1, 100));  // 25 frames

    // P = 0: the window runs from 0 to 16, D = 0, F = 16 / 4 = 4 frames at 16.
    ASSERT_EQ(MixSoftwareBuffer(p), 0);
    EXPECT_EQ(p->writePosition, 32);
    EXPECT_EQ(p->queuedFrames, 21);
    EXPECT_EQ(std::vector<uint8_t>(device.bytes.begin() + 16, device.bytes.begin() + 32), Count(1, 16));
    EXPECT_EQ(device.bytes[15], 0xEE);
    EXPECT_EQ(device.bytes[32], 0xEE);

    // P = 22: window 16..32, D = 6, F = 22 / 4 = 5 frames at 32.
    device.play = 22;
    ASSERT_EQ(MixSoftwareBuffer(p), 0);
    EXPECT_EQ(p->writePosition, 52);
    EXPECT_EQ(std::vector<uint8_t>(device.bytes.begin() + 32, device.bytes.begin() + 52), Count(17, 20));

    // P = 50: window 36..52, D = 14, F = 30 / 4 = 7 frames: 12 bytes to the end, 16 from 0.
    device.play = 50;
    ASSERT_EQ(MixSoftwareBuffer(p), 0);
    EXPECT_EQ(p->writePosition, 16);
    EXPECT_EQ(std::vector<uint8_t>(device.bytes.begin() + 52, device.bytes.end()), Count(37, 12));
    EXPECT_EQ(std::vector<uint8_t>(device.bytes.begin(), device.bytes.begin() + 16), Count(49, 16));
    EXPECT_EQ(p->queuedFrames, 9);
    EXPECT_EQ(p->endPosition, -1);
    EXPECT_EQ(device.locks, device.unlocks);

    // A play position more than lead bytes behind the write position: nothing is written.
    device.play = 60;
    const int locks = device.locks;
    EXPECT_EQ(MixSoftwareBuffer(p), 0);
    EXPECT_EQ(p->writePosition, 16);
    EXPECT_EQ(device.locks, locks);
}

TEST_F(SoundBufferTest, ARunDryPlayerWritesSilenceMarksTheEndAndEndsWhenPlayPassesIt)
{
    FakeBuffer& device = Device(64);
    SoftwareMixBuffer* p = Player(&device, 16, 16);
    Queue(p, Count(1, 8));  // 2 frames

    // F = 4 frames: 2 of data, 2 of silence; the end lies after the data.
    ASSERT_EQ(MixSoftwareBuffer(p), 0);
    EXPECT_EQ(p->endPosition, 24);
    EXPECT_EQ(p->ended, 0);
    EXPECT_EQ(p->queuedFrames, 0);
    EXPECT_EQ(std::vector<uint8_t>(device.bytes.begin() + 16, device.bytes.begin() + 24), Count(1, 8));
    EXPECT_EQ(std::vector<uint8_t>(device.bytes.begin() + 24, device.bytes.begin() + 32), std::vector<uint8_t>(8, 0));

    device.play = 20;  // short of the end
    ASSERT_EQ(MixSoftwareBuffer(p), 0);
    EXPECT_EQ(p->ended, 0);
    EXPECT_EQ(p->lastPlayPosition, 20u);
    EXPECT_EQ(p->endPosition, 24) << "an end once set stays while the ring is dry";

    device.play = 30;  // passed it
    ASSERT_EQ(MixSoftwareBuffer(p), 0);
    EXPECT_EQ(p->ended, 1);
    EXPECT_EQ(p->lastPlayPosition, 20u);

    // Data comes again: the end is forgotten.
    Queue(p, Count(100, 64));
    device.play = 40;
    ASSERT_EQ(MixSoftwareBuffer(p), 0);
    EXPECT_EQ(p->ended, 0);
    EXPECT_EQ(p->endPosition, -1);
    EXPECT_EQ(p->lastPlayPosition, 0u);
}

TEST_F(SoundBufferTest, ThePassFeedsEveryActivePlayerOfTheListWhileStarted)
{
    FakeBuffer& first = Device(64);
    FakeBuffer& idle = Device(64);
    FakeBuffer& last = Device(64);
    SoftwareMixBuffer* a = Player(&first, 16, 16);
    SoftwareMixBuffer* b = Player(&idle, 16, 16);
    SoftwareMixBuffer* c = Player(&last, 16, 16);
    b->active = 0;
    g_soundSystem.directSound = nullptr;
    RunSoundThreadPass();
    EXPECT_EQ(first.locks + idle.locks + last.locks, 0) << "not started";

    g_soundSystem.directSound = reinterpret_cast<IDirectSound*>(&g_anyObject);
    RunSoundThreadPass();
    EXPECT_EQ(a->writePosition, 32);
    EXPECT_EQ(b->writePosition, 16);
    EXPECT_EQ(c->writePosition, 32);
    EXPECT_EQ(idle.locks, 0);
}

TEST_F(SoundBufferTest, SilenceDependsOnTheSampleWidth)
{
    const struct {
        uint16_t bits, channels;
        uint8_t written;
    } cases[] = {{8, 1, 127}, {8, 2, 127}, {16, 1, 0}, {24, 2, 0xEE}};
    for (const auto& c : cases) {
        FakeBuffer& device = Device(96);
        SoftwareMixBuffer* p = Player(&device, 24, 24, c.bits, c.channels);
        ASSERT_EQ(MixSoftwareBuffer(p), 0);
        EXPECT_EQ(p->writePosition, 48) << c.bits << " bits";
        EXPECT_EQ(std::vector<uint8_t>(device.bytes.begin() + 24, device.bytes.begin() + 48),
                  std::vector<uint8_t>(24, c.written))
            << c.bits << " bits";
        EXPECT_EQ(device.bytes[48], 0xEE);
        EXPECT_EQ(DestroySoftwareMixBuffer(handle, 1), 0);
    }
}

TEST_F(SoundBufferTest, AFailedLockOrPositionChangesNoPosition)
{
    FakeBuffer& device = Device(64);
    SoftwareMixBuffer* p = Player(&device, 16, 16);
    Queue(p, Count(1, 16));
    device.failLock = true;
    EXPECT_EQ(MixSoftwareBuffer(p), -1);
    EXPECT_EQ(p->writePosition, 16);
    EXPECT_EQ(p->queuedFrames, 4);
    EXPECT_EQ(p->endPosition, -1);
    EXPECT_EQ(p->ring.held, 16);
    device.failLock = false;
    device.failPosition = true;
    EXPECT_EQ(MixSoftwareBuffer(p), -1);
    EXPECT_EQ(device.locks, 0);

    p->active = 0;
    EXPECT_EQ(MixSoftwareBuffer(p), 0) << "an inactive player is left alone";
}

// Players whose sizes would make the step divide by zero or write outside the playback
// buffer are refused before anything is touched.
TEST_F(SoundBufferTest, APlayerWithUnusableSizesIsRefused)
{
    g_soundSystem.softwareMixing = 1;  // the step's lock is then the library's own
    const struct {
        const char* what;
        uint16_t blockAlign;
        int32_t bufferSize, write, lead;
    } cases[] = {
        {"block align 0", 0, 64, 16, 16},
        {"lead beyond half the buffer", 4, 64, 0, 48},
        {"write position past the end", 4, 64, 64, 16},
        {"negative lead", 4, 64, 16, -4},
    };
    for (const auto& c : cases) {
        SoftwareMixBuffer p{};
        p.kind = 1;
        p.active = 1;
        p.endPosition = -1;
        p.format.blockAlign = c.blockAlign;
        p.format.bitsPerSample = 16;
        p.bufferSize = c.bufferSize;
        p.writePosition = c.write;
        p.lead = c.lead;
        p.playback.present = 1;
        p.playback.format.blockAlign = c.blockAlign;
        p.playback.length = 16;
        p.playback.data = static_cast<uint8_t*>(AllocTrackedMemoryZeroed(64, "", 0));
        EXPECT_EQ(MixSoftwareBuffer(&p), -1) << c.what;
        EXPECT_EQ(p.writePosition, c.write) << c.what;
        FreeTrackedMemory(p.playback.data);
    }
}

TEST_F(SoundBufferTest, CaptureHeaderIsWrittenOverTheFileStartAndTheFileClosed)
{
    EXPECT_EQ(CloseWaveCapture(), -1) << "no capture active";
    EXPECT_TRUE(g_fakeFileCalls.empty());

    g_soundSystem.captureActive = 1;
    g_soundSystem.captureFile = &g_anyObject;
    g_soundSystem.capturedFrames = 0x10203;  // 0x4080C data bytes
    EXPECT_EQ(CloseWaveCapture(), 0);
    const uint8_t expected[46] = {'R',  'I',  'F', 'F', 0x32, 0x08, 0x04, 0x00, 'W',  'A', 'V', 'E',
                                  'f',  'm',  't', ' ', 18,   0,    0,    0,    1,    0,   2,   0,
                                  0x44, 0xAC, 0,   0,   0x10, 0xB1, 0x02, 0x00, 4,    0,   16,  0,
                                  0,    0,    'd', 'a', 't',  'a',  0x0C, 0x08, 0x04, 0x00};
    EXPECT_EQ(g_fakeFileBytes, std::vector<uint8_t>(expected, expected + 46));
    EXPECT_EQ(g_fakeFileCalls, (std::vector<char>{'r', 'w', 'c'}));
    EXPECT_EQ(g_soundSystem.captureActive, 0);
    EXPECT_EQ(g_soundSystem.captureFile, nullptr);
    EXPECT_EQ(g_soundSystem.capturedFrames, 0x10203) << "the count is kept";
    EXPECT_EQ(CloseWaveCapture(), -1) << "closed once";
}

}  // namespace

namespace {

// Before start-up and after shut-down there is no sound lock and no list: the operations
// refuse without touching either.
TEST(SoundSystemNotStarted, SoftwareBufferOperationsRefuse)
{
    ASSERT_FALSE(IsSoundSystemStarted());
    SoftwareMixBuffer record{};
    record.kind = 1;
    EXPECT_EQ(AddSoftwareMixBuffer(&record), -1);
    EXPECT_EQ(SoftwareMixBufferTable()->liveCount, 0);
    EXPECT_EQ(DestroySoftwareMixBuffer(MakeHandle(kHandleTypeSoftSoundBuffer, 1, 0), 1), -1);
    EXPECT_EQ(DestroySoftwareMixBuffer(-1, 0), -1);
    EXPECT_EQ(DestroyOwnedMixBuffers(), -1);
    EXPECT_EQ(DestroyUnownedMixBuffers(), -1);
}

TEST(PrimaryBufferFormat, FollowsTheDeviceCapabilities)
{
    const uint32_t stereo16 = 0x2 | 0x8;
    const struct {
        uint32_t flags, maxRate;
        uint16_t channels, bits, blockAlign;
        uint32_t rate;
    } cases[] = {
        {stereo16, 48000, 2, 16, 4, 44100}, {stereo16, 44100, 2, 16, 4, 44100},
        {stereo16, 22050, 2, 16, 4, 22050}, {stereo16, 0xFFFFFFFFu, 2, 16, 4, 44100},  // compared unsigned
        {0x1 | 0x4, 44100, 1, 8, 1, 44100},                                            // mono and 8 bits only
        {0x2, 11025, 2, 8, 2, 11025},       {0x8, 44100, 1, 16, 2, 44100},
    };
    for (const auto& c : cases) {
        const WaveFormat f = PrimaryBufferFormat(c.flags, c.maxRate);
        EXPECT_EQ(f.formatTag, 1);
        EXPECT_EQ(f.channels, c.channels) << std::hex << c.flags;
        EXPECT_EQ(f.bitsPerSample, c.bits) << std::hex << c.flags;
        EXPECT_EQ(f.blockAlign, c.blockAlign) << std::hex << c.flags;
        EXPECT_EQ(f.samplesPerSecond, c.rate) << c.maxRate;
        EXPECT_EQ(f.averageBytesPerSecond, c.rate * c.blockAlign);
        EXPECT_EQ(f.extraSize, 0);
    }
}

}  // namespace

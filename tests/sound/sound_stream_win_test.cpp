// MIDI handles and the current music against a recorder in place of MCI (Wine has no MIDI
// device), compressed WAVE through the ACM, and one stream played on the system's DirectSound
// (ALSA's null device) and read back.
#include <windows.h>

#include <dsound.h>
#include <mmreg.h>
#include <msacm.h>

#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <string>
#include <vector>

#include "quarn/core/core.h"
#include "quarn/core/files.h"
#include "quarn/sound/sound.h"
#include "quarn/sound/sound_os.h"
#include "quarn/system/system.h"
#include "tests/core/alloc_sweep.h"
#include "tests/core/log_capture.h"
#include "tests/sound/fake_sound_device.h"
#include "tests/sound/memory_converter.h"

namespace {

int g_anyObject;

struct MciCall {
    UINT message;
    DWORD_PTR flags;
    DWORD from;
    DWORD_PTR callback;
};
std::vector<MciCall> s_mciCalls;

MCIERROR WINAPI RecordMci(MCIDEVICEID, UINT message, DWORD_PTR flags, DWORD_PTR parameters)
{
    MciCall call{message, flags, 0, 0};
    if (message == MCI_PLAY && parameters != 0) {
        const auto* play = reinterpret_cast<const MCI_PLAY_PARMS*>(parameters);
        call.from = play->dwFrom;
        call.callback = play->dwCallback;
    }
    s_mciCalls.push_back(call);
    return 0;
}

// A started sound system in name only (no device is touched) with MCI recorded.
class MidiTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        ResetSoundState();
        SetSoundOsApi(FakeSoundDevice());
        InitializeSoundLock();
        g_soundSystem.directSound = reinterpret_cast<IDirectSound*>(&g_anyObject);
        MakeEmptyHandleChain(&g_soundSystem.streamHead, &g_soundSystem.streamTail);
        previous = SetMciSendCommand(RecordMci);
        s_mciCalls.clear();
    }
    void TearDown() override
    {
        DestroyAllMidiHandles();
        DestroyAllSoundHandles(0);
        EXPECT_EQ(MidiTable()->liveCount, 0);
        SetMciSendCommand(previous);
        ResetSoundState();
        DeleteSoundLock();
        SetSoundOsApi(nullptr);
    }

    // The test's creator of a MIDI handle over a copy of the bytes.
    static int32_t Midi(const std::vector<uint8_t>& bytes)
    {
        auto* m = static_cast<MidiRecord*>(AllocTrackedMemoryZeroed(sizeof(MidiRecord), "", 0));
        m->data = static_cast<uint8_t*>(AllocTrackedMemory(static_cast<uint32_t>(bytes.size()), "", 0));
        std::memcpy(m->data, bytes.data(), bytes.size());
        m->dataSize = static_cast<uint32_t>(bytes.size());
        const int32_t handle = AddHandleRecord(MidiTable(), m);
        m->check = static_cast<uint32_t>(HandleCheckOf(handle));
        return handle;
    }

    MciSendCommandFunction previous = nullptr;
};

TEST_F(MidiTest, ALoopingPiecePlaysAgainFromTheStartUntilItIsHalted)
{
    const int32_t h = Midi({'M', 'T', 'h', 'd'});
    g_midiPlayback.loop = 1;
    g_midiPlayback.playing = 1;
    for (int i = 0; i < 2; ++i) {
        EXPECT_EQ(HandleMidiNotify(), 0);
        EXPECT_EQ(g_midiPlayback.playing, 1);
    }
    ASSERT_EQ(s_mciCalls.size(), 2u);
    for (const MciCall& call : s_mciCalls) {
        EXPECT_EQ(call.message, static_cast<UINT>(MCI_PLAY));
        EXPECT_EQ(call.flags, static_cast<DWORD_PTR>(MCI_NOTIFY | MCI_FROM));
        EXPECT_EQ(call.from, 0u);
        EXPECT_EQ(call.callback, reinterpret_cast<DWORD_PTR>(QueryMainWindow()));
    }
    EXPECT_EQ(QueryMidiState(h), 1);
    s_mciCalls.clear();
    EXPECT_EQ(HaltMidiHandle(h), 0);
    ASSERT_EQ(s_mciCalls.size(), 1u);
    EXPECT_EQ(s_mciCalls[0].message, static_cast<UINT>(MCI_CLOSE));
    EXPECT_EQ(g_midiPlayback.loop, 0);
    EXPECT_EQ(QueryMidiState(h), 0);
    EXPECT_EQ(HandleMidiNotify(), 0);
    EXPECT_EQ(s_mciCalls.size(), 1u) << "after the halt a notification changes nothing";
}

TEST_F(MidiTest, HandlesAreCheckedAndNothingRunsBeforeStartUp)
{
    const int32_t h = Midi({1, 2, 3});
    const int32_t foreign[] = {-1, h ^ (3 << 16), (h & ~kHandleTypeBits) | (2 << 27), h + 256, 0};
    for (int32_t bad : foreign) {
        EXPECT_EQ(QueryMidiState(bad), -1) << std::hex << bad;
        EXPECT_EQ(HaltMidiHandle(bad), -1) << std::hex << bad;
        EXPECT_EQ(DestroyMidiHandle(bad), -1) << std::hex << bad;
    }
    // Mode 0: the poll leaves the records alone.
    auto* m = FindHandleRecordAs<MidiRecord>(MidiTable(), h);
    m->playing = 1;
    EXPECT_EQ(PollMidiPlayState(), 0);
    EXPECT_EQ(m->playing, 1);
    EXPECT_EQ(m->started, 0);

    g_soundSystem.directSound = nullptr;
    EXPECT_EQ(QueryMidiState(h), -1);
    EXPECT_EQ(HaltMidiHandle(h), -1);
    EXPECT_EQ(DestroyMidiHandle(h), -1);
    EXPECT_EQ(DestroyAllMidiHandles(), -1);
    EXPECT_EQ(PollMidiPlayState(), -1);
    EXPECT_EQ(EndCurrentMusic(), 0);
    g_soundSystem.directSound = reinterpret_cast<IDirectSound*>(&g_anyObject);
}

TEST_F(MidiTest, TheCurrentMusicEndsAsAMidiHandleOrAsASound)
{
    EXPECT_EQ(EndCurrentMusic(), 0) << "no music";
    EXPECT_TRUE(s_mciCalls.empty());

    const int32_t midi = Midi({9, 9});
    g_midiPlayback.playing = 1;
    g_midiPlayback.currentMusic = midi;
    g_midiPlayback.currentMusicKind = 0;
    EXPECT_EQ(EndCurrentMusic(), 0);
    EXPECT_EQ(MidiTable()->liveCount, 0);
    EXPECT_EQ(g_midiPlayback.currentMusic, 0);
    EXPECT_EQ(g_midiPlayback.playing, 0);

    FakeBuffer ring;
    ring.bytes.assign(8000, 0);
    auto* s = static_cast<SoundRecord*>(AllocTrackedMemoryZeroed(sizeof(SoundRecord), "", 0));
    s->kind = 1;
    s->format = WaveFormat{1, 1, 8000, 8000, 1, 8, 0};
    s->ownerHandle = -1;
    s->claimerHandle = -1;
    s->ringSize = 8000;
    s->buffers[0].present = 1;
    s->buffers[0].directSoundBuffer = AsDevice(&ring);
    s->sourceCount = 1;
    s->sources[0].endFrame = -1;
    const int32_t sound = RegisterSoundRecord(s);
    ASSERT_GE(sound, 0);
    ring.playing = true;
    g_midiPlayback.currentMusic = sound;
    g_midiPlayback.currentMusicKind = 1;
    EXPECT_EQ(EndCurrentMusic(), 0);
    EXPECT_FALSE(ring.playing);
    EXPECT_EQ(ring.released, 1);
    EXPECT_EQ(SoundTable()->liveCount, 0);
    EXPECT_EQ(g_midiPlayback.currentMusic, 0);
}

// ---- Compressed WAVE through the ACM

// Converts all of input with one ACM stream between the two formats; empty on failure.
std::vector<uint8_t> ConvertWhole(WAVEFORMATEX* from, WAVEFORMATEX* to, const std::vector<uint8_t>& input)
{
    HACMSTREAM stream = nullptr;
    std::vector<uint8_t> out;
    if (acmStreamOpen(&stream, nullptr, from, to, nullptr, 0, 0, ACM_STREAMOPENF_NONREALTIME) != 0) {
        return out;
    }
    DWORD size = 0;
    acmStreamSize(stream, static_cast<DWORD>(input.size()), &size, ACM_STREAMSIZEF_SOURCE);
    out.resize(size + 4096);
    ACMSTREAMHEADER header{};
    header.cbStruct = sizeof header;
    header.pbSrc = const_cast<uint8_t*>(input.data());
    header.cbSrcLength = static_cast<DWORD>(input.size());
    header.pbDst = out.data();
    header.cbDstLength = static_cast<DWORD>(out.size());
    acmStreamPrepareHeader(stream, &header, 0);
    acmStreamConvert(stream, &header,
                     ACM_STREAMCONVERTF_BLOCKALIGN | ACM_STREAMCONVERTF_START | ACM_STREAMCONVERTF_END);
    out.resize(header.cbDstLengthUsed);
    acmStreamUnprepareHeader(stream, &header, 0);
    acmStreamClose(stream, 0);
    return out;
}

class AcmConverterTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        CaptureLogInto(&log);
        // Two seconds of a sweep, 22050 Hz 16-bit mono, encoded to IMA ADPCM by the ACM.
        std::vector<uint8_t> samples(2 * 22050 * 2);
        for (size_t i = 0; i < samples.size() / 2; ++i) {
            const double t = static_cast<double>(i) / 22050.0;
            const auto v = static_cast<int16_t>(12000.0 * std::sin(2.0 * 3.14159265 * (200.0 + 300.0 * t) * t));
            samples[2 * i] = static_cast<uint8_t>(v);
            samples[2 * i + 1] = static_cast<uint8_t>(static_cast<uint16_t>(v) >> 8);
        }
        imaFormat.assign(64, 0);
        auto* ima = reinterpret_cast<WAVEFORMATEX*>(imaFormat.data());
        ima->wFormatTag = WAVE_FORMAT_IMA_ADPCM;
        ASSERT_EQ(acmFormatSuggest(nullptr, &pcm, ima, 64, ACM_FORMATSUGGESTF_WFORMATTAG), 0u);
        imaFormat.resize(sizeof(WAVEFORMATEX) + ima->cbSize);
        ima = reinterpret_cast<WAVEFORMATEX*>(imaFormat.data());
        compressed = ConvertWhole(&pcm, ima, samples);
        ASSERT_GT(compressed.size(), 10000u);
        reference = ConvertWhole(ima, &pcm, compressed);
        ASSERT_GT(reference.size(), 80000u);
        // The WAVE file around it.
        auto u32 = [&](uint32_t v) {
            for (int i = 0; i < 4; ++i) {
                file.push_back(static_cast<uint8_t>(v >> (8 * i)));
            }
        };
        auto tag = [&](const char* t) { file.insert(file.end(), t, t + 4); };
        tag("RIFF");
        u32(static_cast<uint32_t>(4 + 8 + imaFormat.size() + 8 + compressed.size()));
        tag("WAVE");
        tag("fmt ");
        u32(static_cast<uint32_t>(imaFormat.size()));
        file.insert(file.end(), imaFormat.begin(), imaFormat.end());
        tag("data");
        u32(static_cast<uint32_t>(compressed.size()));
        file.insert(file.end(), compressed.begin(), compressed.end());
    }
    void TearDown() override { SetLogCapture(nullptr, nullptr); }

    int32_t Open(SoundConverter* c)
    {
        ConverterOverBytes(c, file.data(), file.size());
        return OpenWaveConverter(c, 4096);
    }
    // Reads count bytes from frame on and compares them with the straight decode.
    void ExpectFrom(SoundConverter* c, int32_t frame, size_t count)
    {
        SeekConverter(c, frame);
        std::vector<uint8_t> got(count);
        const int32_t n = ReadConverter(c, got.data(), static_cast<int32_t>(count));
        ASSERT_EQ(static_cast<size_t>(n), count) << "from frame " << frame;
        EXPECT_TRUE(std::equal(got.begin(), got.end(), reference.begin() + 2 * frame)) << "from frame " << frame;
    }

    WAVEFORMATEX pcm{WAVE_FORMAT_PCM, 1, 22050, 44100, 2, 16, 0};
    std::vector<uint8_t> imaFormat, compressed, reference, file;
    std::wstring log;
};

TEST_F(AcmConverterTest, DecodesAsTheAcmDoesAfterSeeksBackAndForth)
{
    SoundConverter c;
    ASSERT_EQ(Open(&c), 0) << std::string(log.begin(), log.end());
    EXPECT_EQ(c.kind, kConvertAcm);
    EXPECT_EQ(c.output.samplesPerSecond, 22050u);
    EXPECT_EQ(c.output.blockAlign, 2);
    c.standbyTarget = 30000;  // the stand-by stream trails toward 30,000 PCM bytes
    ExpectFrom(&c, 0, 50000);
    EXPECT_GT(c.standbyProduced, 0);
    EXPECT_LE(c.standbyProduced, c.standbyTarget);
    const int32_t standby = c.standbyProduced;
    ExpectFrom(&c, standby / 2 + 100, 3000);  // behind the position, at or past the stand-by: it takes over
    ExpectFrom(&c, 40000, 2000);              // forward, converting on
    ExpectFrom(&c, 40000 + 1200, 500);        // within the work buffer
    ASSERT_GT(c.standbyProduced, 0);
    ExpectFrom(&c, 0, 1000);  // below the stand-by: from the start again
    // All of it, then the end.
    SeekConverter(&c, 100);
    std::vector<uint8_t> rest(reference.size() + 1000);
    EXPECT_EQ(ReadConverter(&c, rest.data(), static_cast<int32_t>(rest.size())),
              static_cast<int32_t>(reference.size()) - 200);
    EXPECT_EQ(c.ended, 1);
    const StreamHandle stream = c.streamHandle;
    EXPECT_EQ(ReleaseConverter(&c), 0);
    EXPECT_EQ(c.acmMain, 0u);
    EXPECT_EQ(c.compressed, nullptr);
    c.stream.close(stream);
}

// A stand-by target beyond the data: the stand-by runs to the end of the input and stays
// there while the main stream delivers everything, also after a seek back.
TEST_F(AcmConverterTest, AStandbyTargetPastTheEndLeavesTheDataWhole)
{
    SoundConverter c;
    ASSERT_EQ(Open(&c), 0);
    c.standbyTarget = 1 << 24;
    std::vector<uint8_t> all(reference.size() + 1000);
    EXPECT_EQ(ReadConverter(&c, all.data(), static_cast<int32_t>(all.size())), static_cast<int32_t>(reference.size()));
    EXPECT_TRUE(std::equal(reference.begin(), reference.end(), all.begin()));
    // Back near the start: the main stream starts again while the stand-by is at the end.
    SeekConverter(&c, 100);
    EXPECT_EQ(ReadConverter(&c, all.data(), static_cast<int32_t>(all.size())),
              static_cast<int32_t>(reference.size()) - 200);
    EXPECT_TRUE(std::equal(reference.begin() + 200, reference.end(), all.begin()));
    const StreamHandle stream = c.streamHandle;
    ReleaseConverter(&c);
    c.stream.close(stream);
}

TEST_F(AcmConverterTest, AFormatNoCodecTakesIsRefused)
{
    reinterpret_cast<WAVEFORMATEX*>(file.data() + 20)->wFormatTag = 0x7A7A;
    SoundConverter c;
    EXPECT_EQ(Open(&c), -1);
    EXPECT_NE(log.find(L"WAVE"), std::wstring::npos);
    EXPECT_EQ(c.inUse, 0);
    EXPECT_EQ(c.compressed, nullptr);
    c.stream.close(c.streamHandle);
}

TEST_F(AcmConverterTest, OpensOrIsRefusedWhereverAnAllocationFails)
{
    MemoryStream* stream = OpenMemoryStream(file.data(), static_cast<uint32_t>(file.size()));
    ASSERT_NE(stream, nullptr);
    SoundConverter c{};
    test::AllocationSweep sweep;
    sweep.name = "compressed WAVE";
    sweep.run = [&]() -> int32_t {
        ConverterOverStream(&c, stream);
        if (OpenWaveConverter(&c, 4096) != 0) {
            return -1;
        }
        std::vector<uint8_t> all(reference.size() + 1000);
        EXPECT_EQ(ReadConverter(&c, all.data(), static_cast<int32_t>(all.size())),
                  static_cast<int32_t>(reference.size()));
        EXPECT_TRUE(std::equal(reference.begin(), reference.end(), all.begin()));
        EXPECT_EQ(ReleaseConverter(&c), 0);
        return 0;
    };
    sweep.refusalLines = {L"対応していない WAVE フォーマットです"};
    sweep.nothingLeft = [&] {
        EXPECT_EQ(c.inUse, 0);
        EXPECT_EQ(c.compressed, nullptr);
        EXPECT_EQ(c.work, nullptr);
        EXPECT_EQ(c.acmMain, 0u);
        EXPECT_EQ(c.acmStandby, 0u);
    };
    EXPECT_GT(test::SweepFailingAllocations(sweep), 0u);
    CloseMemoryStream(reinterpret_cast<StreamHandle>(stream));
}

// ---- One stream on the system's device

bool IsNoDeviceRun()
{
    wchar_t value[4] = {};
    return GetEnvironmentVariableW(L"QUARN_NO_AUDIO", value, 4) > 0 && value[0] == L'1';
}

TEST(SoundStreamDevice, AStreamPlaysToItsEndOnTheDeviceAndShutDownDeletesIt)
{
    if (IsNoDeviceRun()) {
        GTEST_SKIP() << "this run has no sound device";
    }
    ASSERT_TRUE(SUCCEEDED(CoInitialize(nullptr)));
    std::wstring log;
    CaptureLogInto(&log);
    ASSERT_EQ(StartSoundSystem(), 0);

    // 22050 Hz, 16 bits, mono: a ring of 44100 bytes.
    const WaveFormat format{1, 1, 22050, 44100, 2, 16, 0};
    const StreamRingSizes sizes = ComputeStreamRingSizes(format);
    WAVEFORMATEX wave{};
    std::memcpy(&wave, &format, sizeof wave);
    DSBUFFERDESC description{};
    description.dwSize = sizeof description;
    description.dwFlags = DSBCAPS_GETCURRENTPOSITION2 | DSBCAPS_GLOBALFOCUS;
    description.dwBufferBytes = sizes.ringSize;
    description.lpwfxFormat = &wave;
    IDirectSoundBuffer* device = nullptr;
    ASSERT_EQ(g_soundSystem.directSound->CreateSoundBuffer(&description, &device, nullptr), DS_OK);

    // The source's stream says 20000 bytes but holds 8000: the play ends with those.
    std::vector<uint8_t> pcm(8000);
    for (size_t i = 0; i < pcm.size(); ++i) {
        pcm[i] = static_cast<uint8_t>(i * 13 + 1);
    }
    auto* s = static_cast<SoundRecord*>(AllocTrackedMemoryZeroed(sizeof(SoundRecord), "", 0));
    s->kind = 1;
    s->format = format;
    s->ownerHandle = -1;
    s->claimerHandle = -1;
    s->ringSize = sizes.ringSize;
    s->buffers[0].present = 1;
    s->buffers[0].directSoundBuffer = device;
    s->bufferCount = 1;
    s->sourceCount = 1;
    SoundConverter& c = s->sources[0].converter;
    s->sources[0].endFrame = -1;
    s->sources[0].stream = *GetMemoryStreamFunctions();
    s->sources[0].streamHandle = reinterpret_cast<StreamHandle>(OpenMemoryStream(pcm.data(), 8000));
    c.inUse = 1;
    c.kind = kConvertPcmStream;
    c.stream = s->sources[0].stream;
    c.streamHandle = s->sources[0].streamHandle;
    c.dataSize = 20000;
    c.output = format;
    c.workSize = 4096;
    c.work = static_cast<uint8_t*>(AllocTrackedMemory(4096, "", 0));
    s->totalFrames = 10000;
    const int32_t h = RegisterSoundRecord(s);
    ASSERT_GE(h, 0);

    // Play type 0 waits for the end of the data, with the sound thread refilling meanwhile.
    const DWORD start = GetTickCount();
    EXPECT_EQ(StartSoundHandle(h, 0, 1), 0);
    EXPECT_LT(GetTickCount() - start, 20000u);
    EXPECT_EQ(QuerySoundPlaying(h), 0);
    EXPECT_EQ(s->refillArmed, 0) << "the stream went back to idle";

    // The ring holds the data and the silence behind it.
    void* p1 = nullptr;
    void* p2 = nullptr;
    DWORD n1 = 0;
    DWORD n2 = 0;
    ASSERT_EQ(device->Lock(0, 8000 + sizes.eighth, &p1, &n1, &p2, &n2, 0), DS_OK);
    ASSERT_EQ(n1, 8000 + sizes.eighth);
    const auto* ring = static_cast<const uint8_t*>(p1);
    EXPECT_EQ(std::memcmp(ring, pcm.data(), 8000), 0);
    EXPECT_EQ(std::vector<uint8_t>(ring + 8000, ring + 8000 + sizes.eighth), std::vector<uint8_t>(sizes.eighth, 0));
    device->Unlock(p1, n1, p2, n2);

    EXPECT_EQ(ShutDownSoundSystem(), 0);
    EXPECT_EQ(SoundTable()->liveCount, 0) << "shut-down deletes every sound";
    SetLogCapture(nullptr, nullptr);
    g_system.quit = 0;
    CoUninitialize();
}

}  // namespace

// Sound handles and streaming over the stand-in device: the converters, the ring a stream's
// refill passes write, the sounds held in memory, deletion and the handle checks.
#include <gtest/gtest.h>

#include <algorithm>
#include <deque>
#include <vector>

#include "quarn/core/core.h"
#include "quarn/core/files.h"
#include "quarn/sound/sound_os.h"
#include "quarn/sound/sound_stream.h"
#include "tests/core/alloc_sweep.h"
#include "tests/core/log_capture.h"
#include "tests/sound/fake_sound_device.h"
#include "tests/sound/memory_converter.h"
#include "tests/sound/vorbis_tone.h"

namespace {

int g_anyObject;

std::vector<uint8_t> Pattern(size_t size, uint8_t seed)
{
    std::vector<uint8_t> bytes(size);
    for (size_t i = 0; i < size; ++i) {
        bytes[i] = static_cast<uint8_t>(seed + i * 7 % 97);
    }
    return bytes;
}

// A kind-3 converter over a copy of the bytes, with a work buffer of workSize.
void MemoryConverter(SoundConverter* c, const std::vector<uint8_t>& bytes, const WaveFormat& format,
                     int32_t workSize = 4096)
{
    *c = SoundConverter{};
    c->inUse = 1;
    c->kind = kConvertMemoryPcm;
    c->output = format;
    c->memoryData = static_cast<uint8_t*>(AllocTrackedMemory(static_cast<uint32_t>(bytes.size() + 1), "", 0));
    CopyBytes(c->memoryData, bytes.data(), static_cast<uint32_t>(bytes.size()));
    c->memorySize = static_cast<int32_t>(bytes.size());
    c->work = static_cast<uint8_t*>(AllocTrackedMemory(static_cast<uint32_t>(workSize), "", 0));
    c->workSize = workSize;
}

// 8000 Hz, 8 bits, mono: a second is 8000 bytes, an eighth 1000, the first fill 6000.
constexpr WaveFormat kSmallFormat{1, 1, 8000, 8000, 1, 8, 0};

// A started sound system over the stand-in device; every case leaves the table empty and the
// allocator where it was.
class SoundStreamTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        SetSoundOsApi(FakeSoundDevice());
        InitializeSoundLock();
        g_soundSystem.directSound = reinterpret_cast<IDirectSound*>(&g_anyObject);
        MakeEmptyHandleChain(&g_soundSystem.streamHead, &g_soundSystem.streamTail);
        MakeEmptyHandleChain(&g_soundSystem.mixHead, &g_soundSystem.mixTail);
        before = GetAllocatorTotals();
    }
    void TearDown() override
    {
        DestroyAllSoundHandles(0);
        EXPECT_EQ(SoundTable()->liveCount, 0);
        EXPECT_EQ(g_soundSystem.streamHead.next, &g_soundSystem.streamTail) << "a stream stayed in the list";
        EXPECT_EQ(GetAllocatorTotals().blockCount, before.blockCount);
        ResetSoundState();
        DeleteSoundLock();
        SetSoundOsApi(nullptr);
    }

    FakeBuffer& Device(size_t size)
    {
        devices.emplace_back();
        devices.back().bytes.assign(size, 0xEE);
        return devices.back();
    }

    // The test's creator of a stream: a ring of one second on its own device buffer and one
    // memory source per block, each with its loop count.
    int32_t Stream(FakeBuffer& ring, const std::vector<std::vector<uint8_t>>& blocks, const std::vector<int8_t>& loops,
                   const WaveFormat& format = kSmallFormat)
    {
        auto* s = static_cast<SoundRecord*>(AllocTrackedMemoryZeroed(sizeof(SoundRecord), "", 0));
        s->kind = 1;
        s->format = format;
        s->ownerHandle = -1;
        s->claimerHandle = -1;
        s->ringSize = ComputeStreamRingSizes(format).ringSize;
        s->buffers[0].present = 1;
        s->buffers[0].directSoundBuffer = AsDevice(&ring);
        s->bufferCount = 1;
        s->sourceCount = static_cast<int32_t>(blocks.size());
        int32_t frames = 0;
        for (size_t i = 0; i < blocks.size(); ++i) {
            MemoryConverter(&s->sources[i].converter, blocks[i], format);
            s->sources[i].loopCount = loops[i];
            s->sources[i].endFrame = -1;
            frames += static_cast<int32_t>(blocks[i].size()) / format.blockAlign;
        }
        s->totalFrames = frames;
        return RegisterSoundRecord(s);
    }

    // A sound held in memory with count device buffers.
    int32_t HeldSound(int32_t count, int32_t bytes = 800)
    {
        auto* s = static_cast<SoundRecord*>(AllocTrackedMemoryZeroed(sizeof(SoundRecord), "", 0));
        s->kind = 0;
        s->format = kSmallFormat;
        s->dataSize = bytes;
        s->bufferCount = count;
        s->currentBuffer = 0;
        for (int32_t i = 0; i < count; ++i) {
            s->buffers[i].present = 1;
            s->buffers[i].directSoundBuffer = AsDevice(&Device(static_cast<size_t>(bytes)));
        }
        return RegisterSoundRecord(s);
    }

    static SoundRecord* Record(int32_t handle) { return FindHandleRecordAs<SoundRecord>(SoundTable(), handle); }

    // Runs refill passes with the play cursor kept a little behind the write position, and
    // collects the bytes each pass adds to the ring, until the stream stops or passes run out.
    std::vector<uint8_t> Drain(int32_t handle, FakeBuffer& ring, size_t wanted)
    {
        SoundRecord* s = Record(handle);
        const uint32_t size = s->ringSize;
        std::vector<uint8_t> heard;
        auto take = [&](uint32_t from, uint32_t to) {
            for (uint32_t at = from; at != to; at = (at + 1) % size) {
                heard.push_back(ring.bytes[at]);
            }
        };
        take(0, static_cast<uint32_t>(s->writePosition));
        for (int pass = 0; pass < 200 && heard.size() < wanted && ring.playing; ++pass) {
            const auto write = static_cast<uint32_t>(s->writePosition);
            ring.play = (write + size - 100) % size;
            EXPECT_EQ(RefillStreamBuffer(handle), 0);
            take(write, static_cast<uint32_t>(s->writePosition));
        }
        return heard;
    }

    AllocatorTotals before{};
    std::deque<FakeBuffer> devices;
};

TEST(StreamRingSizes, OneSecondAnEighthAndThreeQuarters)
{
    struct Case {
        WaveFormat format;
        StreamRingSizes sizes;
    } cases[] = {
        {{1, 2, 44100, 176400, 4, 16, 0}, {176400, 22048, 132300, 132300}},
        {{1, 1, 22050, 22050, 1, 8, 0}, {22050, 2756, 16537, 16537}},
        {{1, 1, 22050, 44100, 2, 16, 0}, {44100, 5512, 33074, 33076}},
    };
    for (const Case& c : cases) {
        const StreamRingSizes got = ComputeStreamRingSizes(c.format);
        EXPECT_EQ(got.ringSize, c.sizes.ringSize) << c.format.averageBytesPerSecond;
        EXPECT_EQ(got.eighth, c.sizes.eighth) << c.format.averageBytesPerSecond;
        EXPECT_EQ(got.firstFill, c.sizes.firstFill) << c.format.averageBytesPerSecond;
        EXPECT_EQ(got.windowLength, c.sizes.windowLength) << c.format.averageBytesPerSecond;
    }
}

TEST(SoundConverter, MemoryReadsRefillTheWorkBufferAndEndOnce)
{
    const std::vector<uint8_t> data = Pattern(10000, 3);
    SoundConverter c;
    MemoryConverter(&c, data, kSmallFormat);
    std::vector<uint8_t> out(12000);
    EXPECT_EQ(ReadConverter(&c, out.data(), 12000), 10000);
    EXPECT_TRUE(std::equal(data.begin(), data.end(), out.begin()));
    EXPECT_EQ(c.ended, 1);
    EXPECT_EQ(ReadConverter(&c, out.data(), 10), 0);

    SeekConverter(&c, 5);  // within 16 bytes of nothing: the position is 10000
    EXPECT_EQ(c.ended, 0);
    SeekConverter(&c, 10);
    EXPECT_EQ(c.ended, 0) << "a move of less than 16 bytes leaves everything";
    EXPECT_EQ(ReadConverter(&c, out.data(), 4), 4);
    EXPECT_EQ(out[0], data[5]);

    // A region of 300 and 200 bytes takes 300 into the first part and 200 into the second.
    uint8_t first[300];
    uint8_t second[200];
    LockedRegion region{0, first, second, 300, 200, 0, 0, 300, 200};
    SeekConverter(&c, 100);
    SeekConverter(&c, 0);
    EXPECT_EQ(ReadConverterIntoRegion(&region, &c, 500), 500u);
    EXPECT_EQ(region.written1, 300u);
    EXPECT_EQ(region.written2, 200u);
    EXPECT_TRUE(std::equal(first, first + 300, data.begin()));
    EXPECT_TRUE(std::equal(second, second + 200, data.begin() + 300));
    EXPECT_EQ(ReleaseConverter(&c), 0);
    EXPECT_EQ(ReleaseConverter(&c), -1);
    EXPECT_EQ(ReadConverter(&c, out.data(), 1), -1);
}

// Reads in pieces of any size, across the work buffer's blocks, hand out the data in order.
TEST(SoundConverter, MemoryReadsInPiecesOfAnySizeGiveTheDataInOrder)
{
    const std::vector<uint8_t> data = Pattern(10000, 5);
    for (int32_t piece : {1, 7, 1000, 4095, 4097, 9999}) {
        SoundConverter c;
        MemoryConverter(&c, data, kSmallFormat, 4096);
        std::vector<uint8_t> got;
        std::vector<uint8_t> buffer(static_cast<size_t>(piece));
        for (int32_t n; (n = ReadConverter(&c, buffer.data(), piece)) > 0;) {
            got.insert(got.end(), buffer.begin(), buffer.begin() + n);
        }
        EXPECT_EQ(got, data) << piece;
        // Halfway into a block and on from there.
        SeekConverter(&c, 5000);
        EXPECT_EQ(ReadConverter(&c, buffer.data(), 1), 1);
        EXPECT_EQ(buffer[0], data[5000]) << piece;
        ReleaseConverter(&c);
    }
}

// A PCM stream shorter than the size its header states ends where its bytes end: before,
// each refill handed out the work buffer again and the data never ended.
TEST(SoundConverter, PcmStreamShorterThanItsStatedSizeEndsWithItsBytes)
{
    const std::vector<uint8_t> data = Pattern(1000, 9);
    SoundConverter c;
    MemoryStream* stream = ConverterOverBytes(&c, data.data(), data.size());
    ASSERT_NE(stream, nullptr);
    c.inUse = 1;
    c.kind = kConvertPcmStream;
    c.dataStart = 100;
    c.dataSize = 5000;
    c.output = kSmallFormat;
    c.work = static_cast<uint8_t*>(AllocTrackedMemory(4096, "", 0));
    c.workSize = 4096;
    c.stream.seek(c.streamHandle, 100, 0);
    std::vector<uint8_t> out(8000);
    EXPECT_EQ(ReadConverter(&c, out.data(), 8000), 900);
    EXPECT_TRUE(std::equal(data.begin() + 100, data.end(), out.begin()));
    EXPECT_EQ(c.ended, 1);
    // From frame 0 again: the data's first byte.
    SeekConverter(&c, 0);
    EXPECT_EQ(ReadConverter(&c, out.data(), 1), 1);
    EXPECT_EQ(out[0], data[100]);
    ReleaseConverter(&c);
    c.stream.close(c.streamHandle);
}

// A RIFF WAVE file: the format chunk (16 or 18 bytes), the chunks before the data, the data
// chunk with its stated size and the bytes actually present.
std::vector<uint8_t> Wave(uint16_t tag, uint16_t channels, uint16_t bits, const std::vector<uint8_t>& before,
                          uint32_t stated, size_t present, uint32_t formatSize = 16, uint16_t align = 0)
{
    std::vector<uint8_t> w;
    auto u16 = [&](uint32_t v) {
        w.push_back(static_cast<uint8_t>(v));
        w.push_back(static_cast<uint8_t>(v >> 8));
    };
    auto u32 = [&](uint32_t v) {
        u16(v & 0xFFFF);
        u16(v >> 16);
    };
    auto tagOf = [&](const char* t) {
        for (int i = 0; i < 4; ++i) {
            w.push_back(static_cast<uint8_t>(t[i]));
        }
    };
    const uint16_t blockAlign = align != 0 ? align : static_cast<uint16_t>(channels * bits / 8);
    tagOf("RIFF");
    u32(0);
    tagOf("WAVE");
    tagOf("fmt ");
    u32(formatSize);
    u16(tag);
    u16(channels);
    u32(22050);
    u32(22050u * blockAlign);
    u16(blockAlign);
    u16(bits);
    for (uint32_t i = 16; i < formatSize; ++i) {
        w.push_back(0);
    }
    w.insert(w.end(), before.begin(), before.end());
    tagOf("data");
    u32(stated);
    for (size_t i = 0; i < present; ++i) {
        w.push_back(static_cast<uint8_t>(i * 5 + 3));
    }
    return w;
}

// Seeks far out, through both kinds of plain PCM (16-bit stereo, 4 bytes a frame): byte
// positions that do not fit 32 bits are formed wide, a frame past the data is refused and the
// converter stays where it was, and a frame before the data reads from its first byte.
TEST(SoundConverter, FarSeeksAreFormedWideAndStayInsideTheData)
{
    constexpr WaveFormat kStereo16{1, 2, 22050, 88200, 4, 16, 0};
    const std::vector<uint8_t> wave = Wave(1, 2, 16, {}, 4000, 4000);
    const std::vector<uint8_t> data(wave.begin() + 44, wave.end());
    for (const bool stream : {false, true}) {
        SCOPED_TRACE(stream ? "PCM from a stream" : "PCM in memory");
        SoundConverter c;
        if (stream) {
            ConverterOverBytes(&c, wave.data(), wave.size());
            ASSERT_EQ(OpenWaveConverter(&c, 1024), 0);
        } else {
            MemoryConverter(&c, data, kStereo16, 1024);
        }
        uint8_t out[8];
        auto readsFrom = [&](size_t at) {
            return ReadConverter(&c, out, 8) == 8 &&
                   std::equal(out, out + 8, data.begin() + static_cast<ptrdiff_t>(at));
        };
        ASSERT_TRUE(readsFrom(0));
        EXPECT_EQ(SeekConverter(&c, 1 << 29), -1) << "2^31 bytes in: past the data";
        EXPECT_TRUE(readsFrom(8)) << "a refused seek leaves the converter where it was";
        EXPECT_EQ(SeekConverter(&c, 1001), -1) << "one frame past the end";
        EXPECT_EQ(SeekConverter(&c, 1000), 0);
        EXPECT_EQ(ReadConverter(&c, out, 8), 0) << "at the end";
        EXPECT_EQ(SeekConverter(&c, -((1 << 29) - 1)), 0);
        EXPECT_TRUE(readsFrom(0)) << "a frame before the data reads from its first byte";
        EXPECT_EQ(SeekConverter(&c, 8), 0);
        EXPECT_TRUE(readsFrom(32));
        EXPECT_EQ(SeekConverter(&c, 100), 0);
        EXPECT_EQ(SeekConverter(&c, -5), 0);
        EXPECT_TRUE(readsFrom(0));
        // A position counted past 2^31 bytes (a long stream) wraps as 32-bit unsigned.
        c.position = INT32_MAX - 3;
        EXPECT_TRUE(readsFrom(8));
        EXPECT_EQ(c.position, INT32_MIN + 4);
        const StreamHandle handle = c.streamHandle;
        ReleaseConverter(&c);
        if (stream) {
            CloseMemoryStream(handle);
        }
    }
}

TEST(WaveConverter, ThePcmOfAWaveFileOrARefusalWithItsLogLine)
{
    const std::vector<uint8_t> list{'L', 'I', 'S', 'T', 3, 0, 0, 0, 'a', 'b', 'c', 0};
    std::vector<uint8_t> headerOnly = Wave(1, 2, 16, {}, 0, 0);
    headerOnly.resize(headerOnly.size() - 8);
    struct Case {
        const char* name;
        std::vector<uint8_t> bytes;
        int32_t result;
        int32_t dataStart;
        int32_t dataSize;
        int32_t delivered = dataSize;  // whole frames of the bytes present
        int32_t workSize = 64;
    } cases[] = {
        {"stereo 16", Wave(1, 2, 16, {}, 400, 400), 0, 44, 400},
        {"odd chunk padded, 18-byte format", Wave(1, 1, 8, list, 301, 301, 18), 0, 58, 301},
        {"stated size is cut to whole frames", Wave(1, 2, 16, {}, 402, 402), 0, 44, 400},
        {"data cut inside a frame", Wave(1, 2, 16, {}, 400, 398), 0, 44, 400, 396},
        {"cut inside a frame, work buffer not whole frames", Wave(1, 2, 16, {}, 200, 98), 0, 44, 200, 96, 97},
        {"format chunk too short", Wave(1, 2, 16, {}, 400, 400, 14), -1, 0, 0},
        {"no channels", Wave(1, 0, 16, {}, 400, 400), -1, 0, 0},
        {"compressed", Wave(0x11, 1, 4, {}, 400, 400, 16, 256), -1, 0, 0},
        {"block align not one frame", Wave(1, 2, 16, {}, 400, 400, 16, 6), -1, 0, 0},
        {"chunk past the end", Wave(1, 2, 16, {'j', 'u', 'n', 'k', 0xFF, 0xFF, 0, 0}, 400, 0), -1, 0, 0},
        {"not RIFF", std::vector<uint8_t>(60, 'R'), -1, 0, 0},
        {"no data chunk", headerOnly, -1, 0, 0},
    };
    for (const Case& c : cases) {
        LogCapture log;
        SoundConverter conv;
        ConverterOverBytes(&conv, c.bytes.data(), c.bytes.size());
        ASSERT_EQ(OpenWaveConverter(&conv, c.workSize), c.result) << c.name;
        if (c.result == 0) {
            EXPECT_EQ(conv.dataStart, c.dataStart) << c.name;
            EXPECT_EQ(conv.dataSize, c.dataSize) << c.name;
            std::vector<uint8_t> out(1000);
            ASSERT_EQ(ReadConverter(&conv, out.data(), 1000), c.delivered) << c.name;
            EXPECT_TRUE(std::equal(out.begin(), out.begin() + c.delivered, c.bytes.begin() + c.dataStart)) << c.name;
            // Again from the start: the same whole frames, not shifted by the cut.
            SeekConverter(&conv, 0);
            ASSERT_EQ(ReadConverter(&conv, out.data(), 1000), c.delivered) << c.name;
            EXPECT_TRUE(std::equal(out.begin(), out.begin() + c.delivered, c.bytes.begin() + c.dataStart)) << c.name;
            ReleaseConverter(&conv);
        } else {
            EXPECT_EQ(log.texts.size(), 1u) << c.name;
            EXPECT_EQ(conv.inUse, 0) << c.name;
        }
        CloseMemoryStream(conv.streamHandle);
    }
}

TEST_F(SoundStreamTest, TheRingHoldsEachSourceInOrderThenSilenceAndTheStreamStopsAtItsEnd)
{
    const std::vector<uint8_t> a = Pattern(2500, 1);
    const std::vector<uint8_t> b = Pattern(1700, 50);
    struct Case {
        std::vector<int8_t> loops;
        int32_t playType;
        std::vector<int> order;  // source per run; -1 silence follows
    } cases[] = {
        {{2}, 1, {0, 0, 0, -1}},
        {{0, 1}, 2, {0, 1, 1, -1}},
        {{-5, 0}, 1, {0, 1, -1}},
        {{0, 0}, 3, {0, 1, 0, 1, 0}},
    };
    for (const Case& c : cases) {
        FakeBuffer& ring = Device(8000);
        std::vector<std::vector<uint8_t>> blocks{a, b};
        blocks.resize(c.loops.size());
        const int32_t h = Stream(ring, blocks, c.loops);
        ASSERT_GE(h, 0);
        ASSERT_EQ(StartSoundHandle(h, c.playType, 1), 0);
        EXPECT_TRUE(ring.looping) << "a stream's ring always loops";
        std::vector<uint8_t> expected;
        for (int source : c.order) {
            if (source >= 0) {
                expected.insert(expected.end(), blocks[source].begin(), blocks[source].end());
            }
        }
        const bool ends = c.order.back() == -1;
        const size_t silence = ends ? 1000 : 0;
        const std::vector<uint8_t> heard = Drain(h, ring, expected.size() + silence);
        ASSERT_GE(heard.size(), expected.size() + silence);
        EXPECT_TRUE(std::equal(expected.begin(), expected.end(), heard.begin())) << c.loops.size();
        for (size_t i = expected.size(); i < expected.size() + silence; ++i) {
            ASSERT_EQ(heard[i], 127) << "8-bit silence at " << i;
        }
        SoundRecord* s = Record(h);
        if (ends) {
            ASSERT_EQ(s->endWritten, 1);
            EXPECT_EQ(s->endPosition, expected.size() % 8000);
            // While the end drains the stream still names one of its sources.
            EXPECT_GE(s->currentSource, 0);
            EXPECT_LT(s->currentSource, s->sourceCount);
            ring.play = s->endPosition + 1;
            EXPECT_EQ(RefillStreamBuffer(h), 0);
            EXPECT_FALSE(ring.playing) << "the buffer stops once the cursor passed the end";
            EXPECT_EQ(s->refillArmed, 0);
            EXPECT_EQ(s->currentSource, 0);
            EXPECT_EQ(QuerySoundPlaying(h), 0);
        } else {
            EXPECT_TRUE(ring.playing);
        }
        EXPECT_EQ(DestroySoundHandle(h, 0), 0);
        EXPECT_EQ(ring.released, 1);
    }
}

TEST_F(SoundStreamTest, ConvertersOpenOrAreRefusedWhereverAnAllocationFailsAndTheRefillTakesNone)
{
    // Each open reads the whole source back and releases the converter; a refused one is left
    // empty with nothing of its own.
    struct Case {
        const char* name;
        std::vector<uint8_t> bytes;
        int32_t (*open)(SoundConverter*, int32_t);
        std::vector<std::wstring> lines;
    };
    const Case cases[] = {
        {"WAVE", Wave(1, 2, 16, {}, 4000, 4000), OpenWaveConverter, {L"WAVE データ用のメモリの確保に失敗しました"}},
        {"Ogg Vorbis",
         EncodeVorbisTone(2, 22050, 3000, 0.3f),
         OpenVorbisConverter,
         {L"Ogg Vorbis ファイルを開けませんでした"}},
    };
    for (const Case& c : cases) {
        ASSERT_FALSE(c.bytes.empty()) << c.name;
        MemoryStream* stream = OpenMemoryStream(c.bytes.data(), static_cast<uint32_t>(c.bytes.size()));
        ASSERT_NE(stream, nullptr);
        SoundConverter conv{};
        std::vector<uint8_t> first;
        test::AllocationSweep sweep;
        sweep.name = c.name;
        sweep.run = [&]() -> int32_t {
            ConverterOverStream(&conv, stream);
            if (c.open(&conv, 4096) != 0) {
                return -1;
            }
            std::vector<uint8_t> pcm(1 << 16);
            pcm.resize(static_cast<size_t>(ReadConverter(&conv, pcm.data(), static_cast<int32_t>(pcm.size()))));
            if (first.empty()) {
                first = pcm;
            }
            EXPECT_EQ(pcm, first) << c.name;
            EXPECT_EQ(ReleaseConverter(&conv), 0);
            return 0;
        };
        sweep.refusalLines = c.lines;
        sweep.nothingLeft = [&] {
            EXPECT_EQ(conv.inUse, 0) << c.name;
            EXPECT_EQ(conv.work, nullptr) << c.name;
            EXPECT_EQ(conv.vorbisFile, nullptr) << c.name;
        };
        EXPECT_GT(test::SweepFailingAllocations(sweep), 0u) << c.name;
        CloseMemoryStream(reinterpret_cast<StreamHandle>(stream));
    }

    // The sound thread refills streams while the program runs on: a pass depends on no
    // allocation, so no failing one can reach it.
    FakeBuffer& ring = Device(8000);
    const int32_t h = Stream(ring, {Pattern(2500, 1), Pattern(1700, 50)}, {1, -1});
    ASSERT_GE(h, 0);
    test::AllocationSweep refill;
    refill.name = "stream refill";
    refill.run = [&]() -> int32_t {
        if (StartSoundHandle(h, 1, 1) != 0) {
            return -1;
        }
        const size_t heard = Drain(h, ring, 12000).size();
        EXPECT_GE(heard, 12000u);
        return HaltSoundHandle(h);
    };
    EXPECT_EQ(test::SweepFailingAllocations(refill), 0u);
}

TEST_F(SoundStreamTest, NothingIsWrittenWhileMoreThanThreeQuartersOfASecondIsQueued)
{
    FakeBuffer& ring = Device(8000);
    const int32_t h = Stream(ring, {Pattern(20000, 4)}, {0});
    ASSERT_EQ(StartSoundHandle(h, 1, 1), 0);
    SoundRecord* s = Record(h);
    EXPECT_EQ(s->writePosition, 6000) << "the first fill";
    ring.play = 7000;  // outside [0, 6000]: the cursor is behind the window
    EXPECT_EQ(RefillStreamBuffer(h), -1);
    EXPECT_EQ(s->writePosition, 6000);
    ring.play = 3000;  // 3/8 s queued: an eighth goes in
    EXPECT_EQ(RefillStreamBuffer(h), 0);
    EXPECT_EQ(s->writePosition, 7000);
    EXPECT_EQ(s->windowStart, 1000);
}

TEST_F(SoundStreamTest, AnEndlessSourceRestartsAtItsLoopStartAndThePlayPositionFollows)
{
    FakeBuffer& ring = Device(8000);
    const std::vector<uint8_t> data = Pattern(3000, 7);
    const int32_t h = Stream(ring, {data}, {-1});
    SoundRecord* s = Record(h);
    s->sources[0].loopStartFrame = 1000;
    ASSERT_EQ(StartSoundHandle(h, 1, 1), 0);
    const std::vector<uint8_t> heard = Drain(h, ring, 7000);
    std::vector<uint8_t> expected = data;
    expected.insert(expected.end(), data.begin() + 1000, data.end());
    expected.insert(expected.end(), data.begin() + 1000, data.end());
    ASSERT_GE(heard.size(), expected.size());
    EXPECT_TRUE(std::equal(expected.begin(), expected.end(), heard.begin()));

    // A restart pending at ring offset 3000: the cursor passing it lands the play position at
    // the loop start plus what was played since.
    s->loopPointPending = 1;
    s->loopPoint = 3000;
    s->loopStartBytes = 1000;
    s->lastCursor = 2900;
    EXPECT_EQ(UpdateStreamPlayPosition(h, 3100), 0);
    EXPECT_EQ(s->playPosition, 1100u);
    EXPECT_EQ(s->loopPointPending, 0);
    // Round the ring's end: from 7900 past a loop point at 7950 to 50.
    s->loopPointPending = 1;
    s->loopPoint = 7950;
    s->lastCursor = 7900;
    EXPECT_EQ(UpdateStreamPlayPosition(h, 50), 0);
    EXPECT_EQ(s->playPosition, 1000u + 100u);
    EXPECT_EQ(UpdateStreamPlayPosition(h, 150), 0);
    EXPECT_EQ(s->playPosition, 1200u);
}

TEST_F(SoundStreamTest, HeldSoundsTakeTheirBuffersInTurn)
{
    const int32_t h = HeldSound(3);
    SoundRecord* s = Record(h);
    std::vector<int32_t> used;
    for (int i = 0; i < 5; ++i) {
        ASSERT_EQ(StartSoundHandle(h, 1, 1), 0);
        used.push_back(s->currentBuffer);
    }
    EXPECT_EQ(used, (std::vector<int32_t>{1, 2, 0, 1, 2}));
    // From-top flag 0 on a playing buffer leaves it alone.
    const int before = devices[0].plays;
    EXPECT_EQ(StartSoundHandle(h, 1, 0), 0);
    EXPECT_EQ(devices[0].plays, before);
    EXPECT_EQ(devices[1].stops, 1) << "the fourth start stopped buffer 1 and started it again";
    EXPECT_EQ(QuerySoundPlaying(h), 1);
    EXPECT_EQ(MeasureSoundLengthMs(h), 100);
}

// Only the buffers in use are asked for their state: the absent entries behind them used to
// fail their status read and make a plain stop report failure.
TEST_F(SoundStreamTest, StoppingAHeldSoundLooksAtTheBuffersInUseOnly)
{
    const int32_t h = HeldSound(2);
    ASSERT_EQ(StartSoundHandle(h, 1, 1), 0);
    ASSERT_EQ(StartSoundHandle(h, 1, 1), 0);
    EXPECT_EQ(HaltSoundHandle(h), 0);
    EXPECT_FALSE(devices[0].playing);
    EXPECT_FALSE(devices[1].playing);
    EXPECT_EQ(QuerySoundPlaying(h), 0);
    devices[1].failStatus = true;
    EXPECT_EQ(HaltSoundHandle(h), -1) << "a failing status read of a buffer in use";
}

// A held sound with data of its own and no shared count: deleting it used to read the count
// through a null pointer.
TEST_F(SoundStreamTest, DeletingAHeldSoundWithoutSharedDataFreesItsBuffers)
{
    const int32_t plain = HeldSound(2);
    EXPECT_EQ(DestroySoundHandle(plain, 0), 0);
    EXPECT_EQ(devices[0].released + devices[1].released, 2);

    // Two sounds sharing one block: the block goes with the second.
    const int32_t first = HeldSound(1);
    const int32_t second = HeldSound(1);
    void* block = AllocTrackedMemory(16, "", 0);
    auto* count = static_cast<uint32_t*>(AllocTrackedMemory(sizeof(uint32_t), "", 0));
    *count = 2;
    Record(first)->sharedData = Record(second)->sharedData = block;
    Record(first)->sharedCount = Record(second)->sharedCount = count;
    EXPECT_EQ(DestroySoundHandle(first, 0), 0);
    EXPECT_EQ(*count, 1u);
    EXPECT_EQ(DestroySoundHandle(second, 0), 0);
}

TEST_F(SoundStreamTest, AStreamOthersPlayThroughWaitsForItsLastSharer)
{
    FakeBuffer& ring = Device(8000);
    const int32_t owner = Stream(ring, {Pattern(3000, 1)}, {0});
    FakeBuffer& unused = Device(8000);
    const int32_t sharer = Stream(unused, {Pattern(3000, 2)}, {0});
    Record(sharer)->ownerHandle = owner;
    Record(owner)->sharerCount = 1;

    ASSERT_EQ(StartSoundHandle(owner, 1, 1), 0);
    EXPECT_EQ(QueryStreamPlaying(sharer), 0) << "the owner holds its ring";
    ASSERT_EQ(StartSoundHandle(sharer, 1, 1), 0);
    EXPECT_EQ(QueryStreamPlaying(owner), 0) << "the sharer claimed the ring";
    EXPECT_EQ(Record(owner)->claimerHandle, sharer);
    EXPECT_EQ(ring.bytes[0], Pattern(1, 2)[0]) << "the sharer's data in the owner's ring";

    EXPECT_EQ(DestroySoundHandle(owner, 0), 0);
    EXPECT_EQ(Record(owner)->deletePending, 1);
    EXPECT_EQ(SoundTable()->liveCount, 2);
    EXPECT_EQ(DestroySoundHandle(sharer, 0), 0);
    EXPECT_EQ(SoundTable()->liveCount, 0) << "the owner went with its last sharer";
}

TEST_F(SoundStreamTest, HandlesAreCheckedAndDeletingTheTopSlotLowersTheHighWater)
{
    const int32_t a = HeldSound(1);
    const int32_t b = HeldSound(1);
    const int32_t c = HeldSound(1);
    const int32_t foreign[] = {-1, a ^ (5 << 16), (a & ~kHandleTypeBits) | (3 << 27), a + 40000, 0};
    for (int32_t h : foreign) {
        EXPECT_EQ(HaltSoundHandle(h), -1) << std::hex << h;
        EXPECT_EQ(MeasureSoundPlayMs(h), -1) << std::hex << h;
        EXPECT_EQ(DestroySoundHandle(h, 0), -1) << std::hex << h;
    }
    EXPECT_EQ(DestroySoundHandle(b, 0), 0);
    EXPECT_EQ(SoundTable()->highWater, 3);
    EXPECT_EQ(DestroySoundHandle(c, 0), 0);
    EXPECT_EQ(SoundTable()->highWater, 1);

    g_soundSystem.directSound = nullptr;
    EXPECT_EQ(StartSoundHandle(a, 1, 1), -1);
    EXPECT_EQ(QuerySoundPlaying(a), -1);
    EXPECT_EQ(RefillStreamBuffer(a), -1);
    EXPECT_EQ(DestroySoundHandle(a, 0), -1);
    g_soundSystem.directSound = reinterpret_cast<IDirectSound*>(&g_anyObject);
}

TEST_F(SoundStreamTest, TheSoundThreadsPassRefillsTheArmedStreamsOfTheList)
{
    FakeBuffer& ring = Device(8000);
    const int32_t h = Stream(ring, {Pattern(20000, 4)}, {0});
    ASSERT_EQ(StartSoundHandle(h, 1, 1), 0);
    ring.play = 3000;
    RunSoundThreadPass();
    EXPECT_EQ(Record(h)->writePosition, 7000);
    EXPECT_EQ(HaltSoundHandle(h), 0);
    EXPECT_FALSE(ring.playing);
    RunSoundThreadPass();
    EXPECT_EQ(Record(h)->writePosition, 7000) << "a stopped ring gets nothing";
}

}  // namespace

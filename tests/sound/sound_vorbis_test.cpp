// Ogg Vorbis through the converter, over the library's memory streams, beside a straight
// decode of the same bytes.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "quarn/core/core.h"
#include "quarn/core/files.h"
#include "quarn/sound/sound_stream.h"
#include "tests/core/log_capture.h"
#include "tests/sound/vorbis_tone.h"
#include "tests/sound/memory_converter.h"

namespace {

class VorbisConverterTest : public ::testing::Test {
protected:
    void SetUp() override { CaptureLogInto(&log); }
    void TearDown() override { SetLogCapture(nullptr, nullptr); }

    // A converter over a memory stream of the bytes; the stream stays open until release.
    static int32_t Open(SoundConverter* c, const std::vector<uint8_t>& bytes, int32_t workSize = 4096)
    {
        ConverterOverBytes(c, bytes.data(), bytes.size());
        const int32_t result = OpenVorbisConverter(c, workSize);
        if (result != 0) {
            c->stream.close(c->streamHandle);
        }
        return result;
    }
    static void Close(SoundConverter* c)
    {
        const StreamHandle stream = c->streamHandle;
        EXPECT_EQ(ReleaseConverter(c), 0);
        c->stream.close(stream);
    }

    std::wstring log;
};

TEST_F(VorbisConverterTest, ReadsAfterSeeksMatchAStraightDecode)
{
    struct Case {
        int channels;
        int rate;
    };
    for (const Case& k : {Case{2, 22050}, Case{1, 11025}}) {
        const std::vector<uint8_t> ogg = EncodeVorbisTone(k.channels, k.rate, k.rate, 0.3f);
        ASSERT_GT(ogg.size(), 100u);
        SoundConverter c;
        ASSERT_EQ(Open(&c, ogg), 0);
        EXPECT_EQ(c.output.channels, k.channels);
        EXPECT_EQ(c.output.samplesPerSecond, static_cast<uint32_t>(k.rate));
        EXPECT_EQ(c.output.blockAlign, 2 * k.channels);
        // Requests that split frames and work buffers alike.
        const int32_t frames[] = {0, k.rate / 2, 300, k.rate - 1000};
        for (int32_t frame : frames) {
            SeekConverter(&c, frame);
            std::vector<uint8_t> got(9001);
            const int32_t n = ReadConverter(&c, got.data(), 9001);
            got.resize(static_cast<size_t>(n));
            const std::vector<uint8_t> straight = StraightVorbisDecode(ogg, frame, 9001);
            ASSERT_FALSE(straight.empty());
            EXPECT_EQ(got, straight) << k.channels << " channels, from frame " << frame;
        }
        // Past the end: the rest, then nothing and the ended flag.
        std::vector<uint8_t> rest(200000);
        SeekConverter(&c, 0);
        EXPECT_EQ(ReadConverter(&c, rest.data(), 200000), k.rate * 2 * k.channels);
        EXPECT_EQ(c.ended, 1);
        EXPECT_EQ(ReadConverter(&c, rest.data(), 100), 0);
        Close(&c);
    }
}

// A frame past the stream's end is refused and the converter reads on from where it was;
// its byte position (2^31 - 16 for this mono frame) is never formed to overflow on a read.
TEST_F(VorbisConverterTest, AFramePastTheEndIsRefused)
{
    const std::vector<uint8_t> ogg = EncodeVorbisTone(1, 11025, 11025, 0.3f);
    SoundConverter c;
    ASSERT_EQ(Open(&c, ogg), 0);
    std::vector<uint8_t> got(2000);
    ASSERT_EQ(ReadConverter(&c, got.data(), 1000), 1000);
    EXPECT_EQ(SeekConverter(&c, (1 << 30) - 8), -1);
    EXPECT_EQ(SeekConverter(&c, 11026), -1) << "one frame past the end";
    EXPECT_EQ(ReadConverter(&c, got.data() + 1000, 1000), 1000);
    EXPECT_EQ(got, StraightVorbisDecode(ogg, 0, 2000));
    EXPECT_EQ(c.position, 2000);
    Close(&c);
}

TEST_F(VorbisConverterTest, BytesThatAreNotOggVorbisAreRefusedWithALogLine)
{
    const std::vector<uint8_t> ogg = EncodeVorbisTone(2, 22050, 22050, 0.3f);
    const std::vector<std::vector<uint8_t>> bad = {
        {0},
        {'O', 'g', 'g', 'S'},
        std::vector<uint8_t>(ogg.begin(), ogg.begin() + 60),
        std::vector<uint8_t>(5000, 0x4F),
    };
    for (const std::vector<uint8_t>& bytes : bad) {
        log.clear();
        SoundConverter c;
        EXPECT_EQ(Open(&c, bytes), -1) << bytes.size();
        EXPECT_NE(log.find(L"Ogg Vorbis"), std::wstring::npos) << bytes.size();
        EXPECT_EQ(c.inUse, 0);
    }
    // A work buffer that cannot hold one stereo frame would never be refilled: the file
    // would open and then deliver nothing.
    for (int32_t workSize : {1, 3}) {
        log.clear();
        SoundConverter c;
        EXPECT_EQ(Open(&c, ogg, workSize), -1) << workSize;
        EXPECT_NE(log.find(L"Ogg Vorbis ファイルを開けませんでした"), std::wstring::npos) << workSize;
        EXPECT_EQ(c.inUse, 0);
    }
    {
        SoundConverter c;
        ASSERT_EQ(Open(&c, ogg, 4), 0);
        std::vector<uint8_t> got(4001);
        got.resize(static_cast<size_t>(ReadConverter(&c, got.data(), 4001)));
        EXPECT_EQ(got, StraightVorbisDecode(ogg, 0, 4001));
        Close(&c);
    }
    // Ogg Vorbis, but more channels than a sound buffer takes.
    log.clear();
    SoundConverter c;
    EXPECT_EQ(Open(&c, EncodeVorbisTone(3, 22050, 2000, 0.3f)), -1);
    EXPECT_NE(log.find(L"Ogg Vorbis ファイルの形式に対応していません"), std::wstring::npos);
    EXPECT_EQ(c.inUse, 0);
}

}  // namespace

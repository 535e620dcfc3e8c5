// The Ogg video decoder on a clip encoded here with libtheora's encoder: its frames against
// libtheora's own decode converted by the slow reference, in order, skipped and wrapped; its
// information; and what it refuses.
#include <gtest/gtest.h>
#include <ogg/ogg.h>

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <vector>

#include "quarn/core/core.h"
#include "quarn/sound/movie.h"
#include "tests/core/log_capture.h"
#include "tests/sound/fake_movie_os.h"
#include "tests/sound/ogg_clip.h"

namespace {

class OggVideoTest : public ::testing::Test {
protected:
    static void SetUpTestSuite()
    {
        BuildYuvToRgbTables();
        s_clip = new std::vector<uint8_t>(EncodeTheoraClip(ClipShape{}));
        s_reference = new std::vector<std::vector<uint8_t>>(ReferenceFrames(*s_clip));
    }
    static void TearDownTestSuite()
    {
        delete s_clip;
        delete s_reference;
    }
    void SetUp() override { before = GetAllocatorTotals(); }
    void TearDown() override { EXPECT_EQ(GetAllocatorTotals().blockCount, before.blockCount) << "a block was left"; }

    // The largest difference of any channel between the decoder's picture and the reference.
    static int Difference(const OggVideoDecoder* d, const std::vector<uint8_t>& reference)
    {
        int worst = 0;
        const BaseImage& image = d->frameImage;
        for (int row = 0; row < image.height; ++row) {
            for (int x = 0; x < image.width * 4; ++x) {
                const int got = image.pixels[row * image.pitch + x];
                const int want = reference[static_cast<size_t>((row * image.width) * 4 + x)];
                worst = std::max(worst, std::abs(got - want));
            }
        }
        return worst;
    }

    static std::vector<uint8_t>* s_clip;
    static std::vector<std::vector<uint8_t>>* s_reference;
    AllocatorTotals before{};
};
std::vector<uint8_t>* OggVideoTest::s_clip;
std::vector<std::vector<uint8_t>>* OggVideoTest::s_reference;

TEST_F(OggVideoTest, InformationOfTheClip)
{
    const ClipShape shape;
    ASSERT_EQ(s_reference->size(), static_cast<size_t>(shape.frames));
    OggVideoDecoder* d = OpenOggVideoDecoder(s_clip->data(), static_cast<uint32_t>(s_clip->size()));
    ASSERT_NE(d, nullptr);
    OggVideoInfo info{};
    EXPECT_EQ(GetOggVideoInfo(d, &info), 0);
    EXPECT_DOUBLE_EQ(info.framesPerSecond, 25.0);
    EXPECT_EQ(info.frameCount, shape.frames);
    EXPECT_EQ(info.width, shape.width);
    EXPECT_EQ(info.height, shape.height);
    EXPECT_EQ(GetOggVideoFrame(d), 0);
    CloseOggVideoDecoder(d);
}

TEST_F(OggVideoTest, FramesMatchLibtheorasDecodeInOrderSkippedAndWrapped)
{
    OggVideoDecoder* d = OpenOggVideoDecoder(s_clip->data(), static_cast<uint32_t>(s_clip->size()));
    ASSERT_NE(d, nullptr);
    const int32_t frames = static_cast<int32_t>(s_reference->size());
    // Every frame in turn, then steps that skip frames and wrap to the start.
    std::vector<int32_t> steps(static_cast<size_t>(frames - 1), 1);
    steps.insert(steps.end(), {3, 5, frames - 2, 7, frames});
    ASSERT_EQ(DecodeOggVideoFrame(d), 0);
    EXPECT_LE(Difference(d, (*s_reference)[0]), 1) << "frame 0";
    for (int32_t step : steps) {
        SkipOggVideoFrames(d, step);
        const int32_t frame = GetOggVideoFrame(d);
        EXPECT_EQ(d->readyFlags[1], 0u);
        ASSERT_EQ(DecodeOggVideoFrame(d), 0) << frame;
        EXPECT_EQ(d->readyFlags[0] & d->readyFlags[1], 1u);
        EXPECT_LE(Difference(d, (*s_reference)[static_cast<size_t>(frame)]), 1) << "frame " << frame;
    }
    // Consecutive frames differ, so a frame shown in the wrong place cannot pass.
    EXPECT_GT(Difference(d, (*s_reference)[static_cast<size_t>((GetOggVideoFrame(d) + 1) % frames)]), 8);
    CloseOggVideoDecoder(d);
}

TEST_F(OggVideoTest, RefusesWhatHoldsNoTheoraStream)
{
    const std::vector<uint8_t>& clip = *s_clip;
    std::vector<uint8_t> noise(3000);
    for (size_t i = 0; i < noise.size(); ++i) {
        noise[i] = static_cast<uint8_t>(i * 2654435761u >> 13);
    }
    // The clip up to its second page: the identification header alone.
    const std::vector<uint8_t> ogg{'O', 'g', 'g', 'S'};
    const auto second = std::search(clip.begin() + 4, clip.end(), ogg.begin(), ogg.end());
    const std::vector<uint8_t> firstPageOnly(clip.begin(), second);
    // A well-formed Ogg stream whose first packet is something else.
    std::vector<uint8_t> otherStream;
    {
        ogg_stream_state stream;
        ogg_stream_init(&stream, 7);
        unsigned char text[] = "\x01vorbis and nothing more";
        ogg_packet packet{text, static_cast<long>(sizeof text), 1, 0, 0, 0};
        ogg_stream_packetin(&stream, &packet);
        ogg_page page;
        while (ogg_stream_flush(&stream, &page) != 0) {
            AppendPage(&otherStream, page);
        }
        ogg_stream_clear(&stream);
    }
    const struct {
        std::vector<uint8_t> bytes;
        const char* why;
    } cases[] = {
        {{}, "nothing"},
        {noise, "noise"},
        {firstPageOnly, "the comment and setup headers are missing"},
        {otherStream, "the stream is no Theora stream"},
    };
    LogCapture log;
    for (const auto& c : cases) {
        const size_t lines = log.texts.size();
        EXPECT_EQ(OpenOggVideoDecoder(c.bytes.data(), static_cast<uint32_t>(c.bytes.size())), nullptr) << c.why;
        EXPECT_GT(log.texts.size(), lines) << c.why << ": a refusal has its log line";
    }
}

TEST_F(OggVideoTest, ATruncatedClipDecodesWhatItHolds)
{
    // Cut halfway through the frames, after the three header pages.
    const std::vector<uint8_t> ogg{'O', 'g', 'g', 'S'};
    auto frames = s_clip->begin();
    for (int page = 0; page < 3; ++page) {
        frames = std::search(frames + 1, s_clip->end(), ogg.begin(), ogg.end());
    }
    ASSERT_NE(frames, s_clip->end());
    const std::vector<uint8_t> half(s_clip->begin(), frames + (s_clip->end() - frames) / 2);
    OggVideoDecoder* d = OpenOggVideoDecoder(half.data(), static_cast<uint32_t>(half.size()));
    ASSERT_NE(d, nullptr);
    OggVideoInfo info{};
    GetOggVideoInfo(d, &info);
    EXPECT_GT(info.frameCount, 0);
    EXPECT_LT(info.frameCount, ClipShape{}.frames);
    SkipOggVideoFrames(d, info.frameCount - 1);
    EXPECT_EQ(DecodeOggVideoFrame(d), 0);
    EXPECT_LE(Difference(d, (*s_reference)[static_cast<size_t>(info.frameCount - 1)]), 1);
    d->currentFrame = info.frameCount;  // past what the stream holds
    EXPECT_EQ(DecodeOggVideoFrame(d), -1);
    CloseOggVideoDecoder(d);
}

// A movie over the clip shows the frame its clock makes due, decoded before its callback.
TEST_F(OggVideoTest, MovieDecodesTheDueFrame)
{
    SetMovieOsApi(FakeMovieOsApi());
    g_fakeMovieOs = FakeMovieOs{};
    MovieRecord* movie = nullptr;
    const int32_t handle = CreateTestMovie(&movie);
    movie->ogg = 1;
    movie->playing = 1;
    movie->playMode = kMoviePlayLoop;
    movie->decoder = OpenOggVideoDecoder(s_clip->data(), static_cast<uint32_t>(s_clip->size()));
    ASSERT_NE(movie->decoder, nullptr);
    static const BaseImage* s_shown;
    s_shown = nullptr;
    movie->frameCallback = [](MovieRecord* m, uint32_t) {
        s_shown = m->decoder->readyFlags[1] != 0 ? &m->decoder->frameImage : nullptr;
    };
    for (int32_t frame : {5, 6, 2}) {  // 2 comes after the loop's end (frame 14 of 12)
        g_fakeMovieOs.now = (frame == 2 ? 14 : frame) * 40000;
        AdvanceMovieFrame(handle);
        ASSERT_EQ(GetOggVideoFrame(movie->decoder), frame);
        ASSERT_NE(s_shown, nullptr) << frame;
        EXPECT_LE(Difference(movie->decoder, (*s_reference)[static_cast<size_t>(frame)]), 1) << frame;
    }
    EXPECT_EQ(DestroyMovie(handle), 0);
    SetMovieOsApi(nullptr);
}

// The clip's packets again with an empty packet (a repeated frame) ahead of its first frame.
std::vector<uint8_t> WithEmptyFirstFrame(const std::vector<uint8_t>& clip)
{
    ogg_stream_state out;
    ogg_stream_init(&out, 99);
    int64_t count = 0;
    std::vector<uint8_t> bytes;
    auto flush = [&] {
        ogg_page page;
        while (ogg_stream_flush(&out, &page) != 0) {
            AppendPage(&bytes, page);
        }
    };
    ForEachClipPacket(clip, [&](ogg_packet& packet) {
        if (count == 3) {
            ogg_packet empty{packet.packet, 0, 0, 0, 0, count++};
            ogg_stream_packetin(&out, &empty);
        }
        packet.packetno = count++;
        ogg_stream_packetin(&out, &packet);
        if (count <= 3) {
            flush();
        }
    });
    flush();
    ogg_stream_clear(&out);
    return bytes;
}

TEST_F(OggVideoTest, NoPictureBeforeTheFirstDecodedOne)
{
    const std::vector<uint8_t> clip = WithEmptyFirstFrame(*s_clip);
    OggVideoDecoder* d = OpenOggVideoDecoder(clip.data(), static_cast<uint32_t>(clip.size()));
    ASSERT_NE(d, nullptr);
    OggVideoInfo info{};
    GetOggVideoInfo(d, &info);
    EXPECT_EQ(info.frameCount, ClipShape{}.frames + 1);
    EXPECT_EQ(DecodeOggVideoFrame(d), -1) << "an empty packet repeats a picture there is not yet";
    EXPECT_EQ(d->readyFlags[1], 0u);
    SkipOggVideoFrames(d, 1);
    EXPECT_EQ(DecodeOggVideoFrame(d), 0);
    EXPECT_LE(Difference(d, (*s_reference)[0]), 1);
    CloseOggVideoDecoder(d);
}

}  // namespace

// The Ogg video decoder on a clip encoded here with libtheora's encoder: its frames against
// libtheora's own decode converted by the slow reference, in order, skipped and wrapped; its
// information; and what it refuses.
#include <gtest/gtest.h>
#include <ogg/ogg.h>

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <functional>
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
public:
    static int Difference(const OggVideoDecoder* d, const std::vector<uint8_t>& reference)
    {
        int worst = 0;
        const BaseImage& image = d->frameImage;
        if (reference.size() != static_cast<size_t>(image.width * image.height * 4)) {
            return 256;
        }
        for (int row = 0; row < image.height; ++row) {
            for (int x = 0; x < image.width * 4; ++x) {
                const int got = image.pixels[row * image.pitch + x];
                const int want = reference[static_cast<size_t>((row * image.width) * 4 + x)];
                worst = std::max(worst, std::abs(got - want));
            }
        }
        return worst;
    }

protected:
    static std::vector<uint8_t>* s_clip;
    static std::vector<std::vector<uint8_t>>* s_reference;
    AllocatorTotals before{};
};
std::vector<uint8_t>* OggVideoTest::s_clip;
std::vector<std::vector<uint8_t>>* OggVideoTest::s_reference;

// Every frame in turn, then steps that skip frames and wrap to the start: each frame shown
// matches libtheora's decode of the clip from its start, in order.
void WalkFramesAgainst(OggVideoDecoder* d, const std::vector<std::vector<uint8_t>>& reference)
{
    const int32_t frames = static_cast<int32_t>(reference.size());
    std::vector<int32_t> steps(static_cast<size_t>(frames - 1), 1);
    steps.insert(steps.end(), {3, 5, frames - 2, 7, frames});
    ASSERT_EQ(DecodeOggVideoFrame(d), 0);
    EXPECT_LE(OggVideoTest::Difference(d, reference[0]), 1) << "frame 0";
    for (int32_t step : steps) {
        SkipOggVideoFrames(d, step);
        const int32_t frame = GetOggVideoFrame(d);
        EXPECT_EQ(d->readyFlags[1], 0u);
        ASSERT_EQ(DecodeOggVideoFrame(d), 0) << frame;
        EXPECT_EQ(d->readyFlags[0] & d->readyFlags[1], 1u);
        EXPECT_LE(OggVideoTest::Difference(d, reference[static_cast<size_t>(frame)]), 1) << "frame " << frame;
    }
    // Consecutive frames differ, so a frame shown in the wrong place cannot pass.
    EXPECT_GT(OggVideoTest::Difference(d, reference[static_cast<size_t>((GetOggVideoFrame(d) + 1) % frames)]), 8);
}

// Pictures of sizes that are not whole 16 x 16 blocks, and placed at an offset in the coded
// frame (odd offsets start inside a chroma pair): the frames are the picture, not the frame.
TEST_F(OggVideoTest, FramesAreThePictureInOrderSkippedAndWrapped)
{
    struct Shape {
        int width, height, x, y;
    };
    for (const Shape& k : {Shape{64, 48, 0, 0}, Shape{100, 60, 0, 0}, Shape{100, 60, 6, 2}, Shape{37, 21, 5, 3}}) {
        SCOPED_TRACE(testing::Message() << k.width << "x" << k.height << " at " << k.x << "," << k.y);
        ClipShape shape;
        shape.width = k.width;
        shape.height = k.height;
        shape.pictureX = k.x;
        shape.pictureY = k.y;
        const std::vector<uint8_t> clip = k.width == 64 ? *s_clip : EncodeTheoraClip(shape);
        const std::vector<std::vector<uint8_t>> reference = k.width == 64 ? *s_reference : ReferenceFrames(clip);
        ASSERT_EQ(reference.size(), static_cast<size_t>(shape.frames));
        ASSERT_EQ(reference[0].size(), static_cast<size_t>(k.width * k.height * 4));
        OggVideoDecoder* d = OpenOggVideoDecoder(clip.data(), static_cast<uint32_t>(clip.size()));
        ASSERT_NE(d, nullptr);
        OggVideoInfo info{};
        EXPECT_EQ(GetOggVideoInfo(d, &info), 0);
        EXPECT_DOUBLE_EQ(info.framesPerSecond, 25.0);
        EXPECT_EQ(info.frameCount, shape.frames);
        EXPECT_EQ(info.width, k.width);
        EXPECT_EQ(info.height, k.height);
        EXPECT_EQ(GetOggVideoFrame(d), 0);
        EXPECT_EQ(d->frameImage.width, k.width);
        EXPECT_EQ(d->frameImage.height, k.height);
        WalkFramesAgainst(d, reference);
        CloseOggVideoDecoder(d);
    }
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

// The conversion's SSE2 form writes the plain form's bytes: every pair of chroma values (Cb
// across, Cr down a 256 x 256 chroma plane) under luma that runs through all its values, at
// widths that leave every count of pixels to the plain tail, and at both chroma phases.
TEST(YuvConversion, TheSse2FormWritesThePlainFormsBytes)
{
    BuildYuvToRgbTables();
    constexpr int32_t kSide = 512;
    constexpr int32_t kChroma = kSide / 2;
    std::vector<uint8_t> luma(kSide * kSide), cb(kChroma * kChroma), cr(kChroma * kChroma);
    for (int32_t row = 0; row < kSide; ++row) {
        for (int32_t x = 0; x < kSide; ++x) {
            luma[static_cast<size_t>(row * kSide + x)] = static_cast<uint8_t>(x * 7 + row * 3);
        }
    }
    for (int32_t row = 0; row < kChroma; ++row) {
        for (int32_t x = 0; x < kChroma; ++x) {
            cb[static_cast<size_t>(row * kChroma + x)] = static_cast<uint8_t>(x);
            cr[static_cast<size_t>(row * kChroma + x)] = static_cast<uint8_t>(row);
        }
    }
    auto convert = [&](int32_t sse2, int32_t width, int32_t height, int32_t phaseX, int32_t phaseY) {
        std::vector<uint8_t> out(static_cast<size_t>(width * height * 4), 0xCD);
        const int32_t before = OverrideSse2Usable(sse2);
        ConvertYuv420ToXrgb(luma.data() + 1, kSide, cb.data(), cr.data(), kChroma, phaseX, phaseY, width, height,
                            out.data(), width * 4);
        OverrideSse2Usable(before);
        return out;
    };
    EXPECT_EQ(convert(1, kSide - 2, kSide - 1, 0, 1), convert(0, kSide - 2, kSide - 1, 0, 1));
    for (int32_t width = 1; width <= 25; ++width) {
        for (int32_t phase = 0; phase < 4; ++phase) {
            EXPECT_EQ(convert(1, width, 5, phase & 1, phase >> 1), convert(0, width, 5, phase & 1, phase >> 1))
                << width << " pixels, phase " << phase;
        }
    }
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

// The clip's packets, rewritten by change, as a clip of their own (the headers on pages of
// their own, the frames after them).
std::vector<uint8_t> WithPackets(const std::vector<uint8_t>& clip,
                                 const std::function<void(std::vector<std::vector<uint8_t>>*)>& change)
{
    std::vector<std::vector<uint8_t>> packets;
    ForEachClipPacket(clip,
                      [&](ogg_packet& packet) { packets.emplace_back(packet.packet, packet.packet + packet.bytes); });
    change(&packets);
    ogg_stream_state out;
    ogg_stream_init(&out, 99);
    std::vector<uint8_t> bytes;
    auto flush = [&] {
        ogg_page page;
        while (ogg_stream_flush(&out, &page) != 0) {
            AppendPage(&bytes, page);
        }
    };
    for (size_t i = 0; i < packets.size(); ++i) {
        ogg_packet packet{
            packets[i].data(),          static_cast<long>(packets[i].size()), i == 0, i + 1 == packets.size(), 0,
            static_cast<ogg_int64_t>(i)};
        ogg_stream_packetin(&out, &packet);
        if (i < 3) {
            flush();
        }
    }
    flush();
    ogg_stream_clear(&out);
    return bytes;
}

// An empty packet (a repeated frame) ahead of the clip's first frame.
std::vector<uint8_t> WithEmptyFirstFrame(const std::vector<uint8_t>& clip)
{
    return WithPackets(clip,
                       [](std::vector<std::vector<uint8_t>>* p) { p->insert(p->begin() + 3, std::vector<uint8_t>{}); });
}

// A clip cut after its first key frame: the frame it starts with is predicted from nothing.
// After each wrap (and a skip back to it) frame 0 is decoded from the same nothing as after
// opening, not from the frame before the wrap.
TEST_F(OggVideoTest, AClipStartingWithoutAKeyFrameWrapsToTheSameFrames)
{
    const std::vector<uint8_t> clip = WithPackets(*s_clip, [](std::vector<std::vector<uint8_t>>* p) {
        p->erase(p->begin() + 3);
    });
    const std::vector<std::vector<uint8_t>> reference = ReferenceFrames(clip);
    ASSERT_EQ(reference.size(), static_cast<size_t>(ClipShape{}.frames - 1));
    OggVideoDecoder* d = OpenOggVideoDecoder(clip.data(), static_cast<uint32_t>(clip.size()));
    ASSERT_NE(d, nullptr);
    WalkFramesAgainst(d, reference);
    CloseOggVideoDecoder(d);
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

// The Ogg video decoder's colour conversion of a 640 x 480 4:2:0 picture into 32-bit pixels
// through the BT.601 tables, beside a plain integer loop computing the same factors per pixel
// (the anchor); and the decode path (next frame decoded and converted) on a 640 x 480 clip
// made with libtheora's encoder, beside libtheora's own decode of the same packets.
#include <benchmark/benchmark.h>
#include <ogg/ogg.h>
#include <theora/theoradec.h>

#include <cstdio>
#include <cstring>
#include <map>
#include <string>
#include <vector>

#include "quarn/core/core.h"
#include "quarn/sound/movie.h"
#include "tests/bench_main.h"
#include "tests/sound/ogg_clip.h"

namespace {

constexpr int kWidth = 640;
constexpr int kHeight = 480;
constexpr int64_t kPixels = int64_t(kWidth) * kHeight;

struct Planes {
    std::vector<uint8_t> y, cb, cr, out;
    Planes() : y(kPixels), cb(kPixels / 4), cr(kPixels / 4), out(kPixels * 4)
    {
        uint32_t x = 12345;
        for (auto* plane : {&y, &cb, &cr}) {
            for (auto& v : *plane) {
                x = x * 1664525u + 1013904223u;
                v = static_cast<uint8_t>(x >> 24);
            }
        }
    }
};

uint8_t Clamp(int v) { return static_cast<uint8_t>(v < 0 ? 0 : (v > 255 ? 255 : v)); }

void BM_ConvertThroughTables(benchmark::State& state)
{
    BuildYuvToRgbTables();
    Planes p;
    for (auto _ : state) {
        ConvertYuv420ToXrgb(p.y.data(), kWidth, p.cb.data(), p.cr.data(), kWidth / 2, 0, 0, kWidth, kHeight,
                            p.out.data(), kWidth * 4);
        benchmark::ClobberMemory();
    }
    state.SetItemsProcessed(state.iterations() * kPixels);
}

// The same factors in 14 fraction bits, multiplied out for every pixel.
void BM_PlainIntegerLoop(benchmark::State& state)
{
    Planes p;
    for (auto _ : state) {
        for (int row = 0; row < kHeight; ++row) {
            const uint8_t* y = p.y.data() + row * kWidth;
            const uint8_t* cb = p.cb.data() + (row / 2) * (kWidth / 2);
            const uint8_t* cr = p.cr.data() + (row / 2) * (kWidth / 2);
            uint8_t* o = p.out.data() + row * kWidth * 4;
            for (int x = 0; x < kWidth; ++x, o += 4) {
                const int l = 19070 * (y[x] - 16) + 8192;
                const int u = cb[x / 2] - 128;
                const int v = cr[x / 2] - 128;
                o[0] = Clamp((l + 33062 * u) >> 14);
                o[1] = Clamp((l - 6406 * u - 13320 * v) >> 14);
                o[2] = Clamp((l + 26148 * v) >> 14);
                o[3] = 255;
            }
        }
        benchmark::ClobberMemory();
    }
    state.SetItemsProcessed(state.iterations() * kPixels);
}

const std::vector<uint8_t>& Clip()
{
    static const std::vector<uint8_t> clip = [] {
        ClipShape shape;
        shape.width = kWidth;
        shape.height = kHeight;
        shape.frames = 24;
        return EncodeTheoraClip(shape);
    }();
    return clip;
}

// One frame further (the clip loops) and its picture in 32-bit pixels.
void BM_DecodeNextFrame(benchmark::State& state)
{
    BuildYuvToRgbTables();
    const std::vector<uint8_t>& clip = Clip();
    OggVideoDecoder* d = OpenOggVideoDecoder(clip.data(), static_cast<uint32_t>(clip.size()));
    if (d == nullptr) {
        state.SkipWithError("the clip does not open");
        return;
    }
    for (auto _ : state) {
        SkipOggVideoFrames(d, 1);
        DecodeOggVideoFrame(d);
        benchmark::ClobberMemory();
    }
    state.SetItemsProcessed(state.iterations());
    CloseOggVideoDecoder(d);
}

// libtheora alone over the same packets, taken from the clip beforehand.
void BM_LibtheoraDecode(benchmark::State& state)
{
    const std::vector<uint8_t>& clip = Clip();
    std::vector<std::vector<uint8_t>> packets;
    ForEachClipPacket(clip,
                      [&](ogg_packet& packet) { packets.emplace_back(packet.packet, packet.packet + packet.bytes); });
    th_info info;
    th_comment comment;
    th_setup_info* setup = nullptr;
    th_info_init(&info);
    th_comment_init(&comment);
    for (int i = 0; i < 3; ++i) {
        ogg_packet packet{packets[i].data(), static_cast<long>(packets[i].size()), i == 0, 0, 0, i};
        th_decode_headerin(&info, &comment, &setup, &packet);
    }
    th_dec_ctx* decoder = th_decode_alloc(&info, setup);
    size_t next = 3;
    for (auto _ : state) {
        if (next == packets.size()) {
            next = 3;
        }
        ogg_packet packet{packets[next].data(),          static_cast<long>(packets[next].size()), 0, 0, -1,
                          static_cast<ogg_int64_t>(next)};
        th_decode_packetin(decoder, &packet, nullptr);
        th_ycbcr_buffer yuv;
        th_decode_ycbcr_out(decoder, yuv);
        ++next;
        benchmark::ClobberMemory();
    }
    state.SetItemsProcessed(state.iterations());
    th_decode_free(decoder);
    th_setup_free(setup);
    th_comment_clear(&comment);
    th_info_clear(&info);
}

BENCHMARK(BM_ConvertThroughTables);
BENCHMARK(BM_PlainIntegerLoop);
BENCHMARK(BM_DecodeNextFrame);
BENCHMARK(BM_LibtheoraDecode);

class SummaryReporter : public SummaryReporterBase {
public:
    void Keep(const Run& r) override { perSecond_[r.run_name.str()] = double(r.iterations) / r.real_accumulated_time; }
    void Finalize() override
    {
        ConsoleReporter::Finalize();
        const double tables = perSecond_["BM_ConvertThroughTables"] * double(kPixels) / 1e6;
        const double plain = perSecond_["BM_PlainIntegerLoop"] * double(kPixels) / 1e6;
        const double decode = perSecond_["BM_DecodeNextFrame"];
        const double theora = perSecond_["BM_LibtheoraDecode"];
        std::printf("\n%dx%d 4:2:0 into 32-bit pixels, Mpix/s on one core\n", kWidth, kHeight);
        std::printf("  %-44s %12.1f\n", "ConvertYuv420ToXrgb (colour tables)", tables);
        std::printf("  %-44s %12.1f\n", "plain integer loop (the anchor)", plain);
        std::printf("  %-44s %12.2f\n", "tables / plain loop", plain > 0 ? tables / plain : 0.0);
        std::printf("\n%dx%d Theora clip, frames per second on one core\n", kWidth, kHeight);
        std::printf("  %-44s %12.1f\n", "DecodeOggVideoFrame (decode and convert)", decode);
        std::printf("  %-44s %12.1f\n", "libtheora decode alone (the anchor)", theora);
        std::printf("  %-44s %12.2f\n", "decode path / libtheora", theora > 0 ? decode / theora : 0.0);
        RecordRatio("YUV 4:2:0 to XRGB", "plain integer loop", plain > 0 ? tables / plain : 0.0);
        RecordRatio("Ogg video decode path", "libtheora decode", theora > 0 ? decode / theora : 0.0);
    }

private:
    std::map<std::string, double> perSecond_;
};

}  // namespace

int main(int argc, char** argv) { return RunBenchmarksWithSummary<SummaryReporter>(argc, argv); }

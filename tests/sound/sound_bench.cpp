// The software buffers' feeding step over 32 players of 16-bit stereo, each step moving
// 2 x lead bytes from a player's ring into its looping playback buffer, beside a plain
// saturating add of the same 32 voices' samples into one output (the anchor the step is
// held to) and a plain copy of the same bytes; Ogg Vorbis decoded through a converter beside
// a straight ov_read loop; PCM handed out by a converter beside memcpy.
#include <benchmark/benchmark.h>

#include <cstdio>
#include <cstring>
#include <map>
#include <string>
#include <vector>

#include "tests/bench_main.h"
#include "quarn/core/core.h"
#include "quarn/sound/sound_state.h"
#include "quarn/sound/sound_stream.h"
#include "tests/sound/vorbis_tone.h"
#include "tests/sound/memory_converter.h"

namespace {

constexpr int kVoices = 32;
constexpr int32_t kBufferBytes = 8192;
constexpr int32_t kLead = 2048;
constexpr int32_t kStepBytes = 2 * kLead;  // written per voice and step
constexpr int32_t kRingBytes = 1 << 20;
constexpr int64_t kSamplesPerStep = int64_t(kVoices) * kStepBytes / 2;  // 16-bit samples

std::vector<int16_t> VoiceSamples(int voice, size_t count)
{
    std::vector<int16_t> v(count);
    uint32_t x = 0x9E3779B9u * static_cast<uint32_t>(voice + 1);
    for (auto& s : v) {
        x = x * 1664525u + 1013904223u;
        s = static_cast<int16_t>(x >> 16);
    }
    return v;
}

struct Players {
    SoftwareMixBuffer p[kVoices]{};

    Players()
    {
        g_soundSystem.softwareMixing = 1;  // playback buffers in memory: no device here
        InitializeSoundLock();
        for (int v = 0; v < kVoices; ++v) {
            SoftwareMixBuffer& m = p[v];
            m.kind = 1;
            m.active = 1;
            m.format = WaveFormat{1, 2, 44100, 176400, 4, 16, 0};
            m.playback.present = 1;
            m.playback.format = m.format;
            m.playback.length = kBufferBytes / 4;
            m.playback.data = static_cast<uint8_t*>(AllocTrackedMemoryZeroed(kBufferBytes, "", 0));
            m.bufferSize = kBufferBytes;
            m.endPosition = -1;
            m.lead = kLead;
            ReserveRingBuffer(&m.ring, kRingBytes);
            const std::vector<int16_t> s = VoiceSamples(v, kRingBytes / 2);
            std::memcpy(m.ring.data, s.data(), kRingBytes);
            m.ring.held = kRingBytes;
        }
    }
    ~Players()
    {
        for (auto& m : p) {
            FreeRingBuffer(&m.ring);
            FreeTrackedMemory(m.playback.data);
        }
        DeleteSoundLock();
        g_soundSystem.softwareMixing = 0;
    }
};

void BM_MixSoftwareBuffer(benchmark::State& state)
{
    Players players;
    for (auto _ : state) {
        for (SoftwareMixBuffer& m : players.p) {
            // The play position at the write position: the step writes its full 2 x lead.
            m.playback.cursor = static_cast<uint32_t>(m.writePosition / 4);
            if (m.ring.held < kStepBytes) {
                m.ring.readPos = 0;
                m.ring.held = kRingBytes;
            }
            m.queuedFrames = m.ring.held / 4;
            MixSoftwareBuffer(&m);
        }
        benchmark::ClobberMemory();
    }
    state.SetItemsProcessed(state.iterations() * kSamplesPerStep);
}

// The same voices' samples, step for step, added with saturation into one output.
void BM_SaturatingAdd(benchmark::State& state)
{
    std::vector<std::vector<int16_t>> voices;
    for (int v = 0; v < kVoices; ++v) {
        voices.push_back(VoiceSamples(v, kRingBytes / 2));
    }
    std::vector<int16_t> out(kBufferBytes / 2);
    size_t read = 0;
    int32_t write = 0;
    constexpr int32_t samples = kStepBytes / 2;
    for (auto _ : state) {
        if (read + samples > voices[0].size()) {
            read = 0;
        }
        for (const auto& voice : voices) {
            const int16_t* in = voice.data() + read;
            int16_t* o = out.data() + write;
            for (int32_t i = 0; i < samples; ++i) {
                const int32_t sum = int32_t(o[i]) + in[i];
                o[i] = static_cast<int16_t>(sum > 32767 ? 32767 : (sum < -32768 ? -32768 : sum));
            }
        }
        read += samples;
        write = (write + samples) % (kBufferBytes / 2);
        benchmark::ClobberMemory();
    }
    state.SetItemsProcessed(state.iterations() * kSamplesPerStep);
}

// The same bytes copied from each voice into its own buffer, as the step moves them.
void BM_PlainCopy(benchmark::State& state)
{
    std::vector<std::vector<int16_t>> voices;
    std::vector<std::vector<uint8_t>> buffers;
    for (int v = 0; v < kVoices; ++v) {
        voices.push_back(VoiceSamples(v, kRingBytes / 2));
        buffers.emplace_back(kBufferBytes);
    }
    size_t read = 0;
    int32_t write = 0;
    for (auto _ : state) {
        if (read + kStepBytes > size_t(kRingBytes)) {
            read = 0;
        }
        for (int v = 0; v < kVoices; ++v) {
            std::memcpy(buffers[v].data() + write, reinterpret_cast<const uint8_t*>(voices[v].data()) + read,
                        kStepBytes);
        }
        read += kStepBytes;
        write = (write + kStepBytes) % kBufferBytes;
        benchmark::ClobberMemory();
    }
    state.SetItemsProcessed(state.iterations() * kSamplesPerStep);
}

// Ten seconds of 44.1 kHz stereo Ogg Vorbis decoded whole, once through a converter over a
// memory stream in the refill's requests, once by a straight ov_read loop over the same bytes.
const std::vector<uint8_t>& VorbisFile()
{
    static const std::vector<uint8_t> file = EncodeVorbisTone(2, 44100, 441000, 0.4f);
    return file;
}
constexpr int32_t kVorbisWork = 4096;

void BM_VorbisConverter(benchmark::State& state)
{
    const std::vector<uint8_t>& file = VorbisFile();
    std::vector<uint8_t> out(22048);
    int64_t bytes = 0;
    for (auto _ : state) {
        SoundConverter c;
        MemoryStream* stream = ConverterOverBytes(&c, file.data(), file.size());
        if (OpenVorbisConverter(&c, kVorbisWork) != 0) {
            state.SkipWithError("the converter does not open the file");
            break;
        }
        for (int32_t got; (got = ReadConverter(&c, out.data(), static_cast<int32_t>(out.size()))) > 0;) {
            bytes += got;
        }
        benchmark::ClobberMemory();
        ReleaseConverter(&c);
        CloseMemoryStream(reinterpret_cast<StreamHandle>(stream));
    }
    state.SetBytesProcessed(bytes);
}

void BM_VorbisStraight(benchmark::State& state)
{
    const std::vector<uint8_t>& file = VorbisFile();
    std::vector<char> out(kVorbisWork);
    int64_t bytes = 0;
    for (auto _ : state) {
        VorbisByteSource source{&file, 0};
        OggVorbis_File f;
        if (ov_open_callbacks(&source, &f, nullptr, 0, VorbisByteCallbacks()) != 0) {
            state.SkipWithError("vorbisfile does not open the file");
            break;
        }
        int bitStream = 0;
        for (long got; (got = ov_read(&f, out.data(), kVorbisWork, 0, 2, 1, &bitStream)) > 0;) {
            bytes += got;
        }
        benchmark::ClobberMemory();
        ov_clear(&f);
    }
    state.SetBytesProcessed(bytes);
}

// PCM held in memory handed out by a converter, in requests of an eighth of a second of
// 44.1 kHz 16-bit stereo as the refill asks for them, through a 64 KB work buffer.
constexpr int32_t kPcmBytes = 4 << 20;
constexpr int32_t kRequestBytes = 22048;

void BM_ConverterRead(benchmark::State& state)
{
    const std::vector<int16_t> pcm = VoiceSamples(0, kPcmBytes / 2);
    SoundConverter c{};
    c.inUse = 1;
    c.kind = kConvertMemoryPcm;
    c.output = WaveFormat{1, 2, 44100, 176400, 4, 16, 0};
    c.memoryData = static_cast<uint8_t*>(AllocTrackedMemory(kPcmBytes, "", 0));
    std::memcpy(c.memoryData, pcm.data(), kPcmBytes);
    c.memorySize = kPcmBytes;
    c.workSize = 1 << 16;
    c.work = static_cast<uint8_t*>(AllocTrackedMemory(static_cast<uint32_t>(c.workSize), "", 0));
    std::vector<uint8_t> out(kRequestBytes);
    int64_t bytes = 0;
    for (auto _ : state) {
        int32_t got = ReadConverter(&c, out.data(), kRequestBytes);
        if (got < kRequestBytes) {
            SeekConverter(&c, 0);
            got += ReadConverter(&c, out.data() + got, kRequestBytes - got);
        }
        bytes += got;
        benchmark::ClobberMemory();
    }
    state.SetBytesProcessed(bytes);
    ReleaseConverter(&c);
}

// The same requests copied straight from the same PCM.
void BM_PcmMemcpy(benchmark::State& state)
{
    const std::vector<int16_t> pcm = VoiceSamples(0, kPcmBytes / 2);
    const auto* from = reinterpret_cast<const uint8_t*>(pcm.data());
    std::vector<uint8_t> out(kRequestBytes);
    int32_t at = 0;
    int64_t bytes = 0;
    for (auto _ : state) {
        if (at + kRequestBytes > kPcmBytes) {
            at = 0;
        }
        std::memcpy(out.data(), from + at, kRequestBytes);
        at += kRequestBytes;
        bytes += kRequestBytes;
        benchmark::ClobberMemory();
    }
    state.SetBytesProcessed(bytes);
}

BENCHMARK(BM_MixSoftwareBuffer);
BENCHMARK(BM_VorbisConverter)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_VorbisStraight)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_ConverterRead);
BENCHMARK(BM_PcmMemcpy);
BENCHMARK(BM_SaturatingAdd);
BENCHMARK(BM_PlainCopy);

// The usual console output, then samples per second per core beside the anchors.
class SummaryReporter : public SummaryReporterBase {
public:
    void Keep(const Run& r) override
    {
        stepsPerSecond_[r.run_name.str()] = double(r.iterations) / r.real_accumulated_time;
        const auto b = r.counters.find("bytes_per_second");
        if (b != r.counters.end()) {
            bytesPerSecond_[r.run_name.str()] = b->second.value;
        }
    }
    void Finalize() override
    {
        ConsoleReporter::Finalize();
        const double mix = stepsPerSecond_["BM_MixSoftwareBuffer"] * double(kSamplesPerStep);
        const double add = stepsPerSecond_["BM_SaturatingAdd"] * double(kSamplesPerStep);
        const double copy = stepsPerSecond_["BM_PlainCopy"] * double(kSamplesPerStep);
        std::printf("\n%d voices of 16-bit stereo, samples per second on one core\n", kVoices);
        std::printf("  %-40s %14.0f\n", "MixSoftwareBuffer", mix);
        std::printf("  %-40s %14.0f\n", "plain saturating add (the anchor)", add);
        std::printf("  %-40s %14.0f\n", "plain copy", copy);
        std::printf("  %-40s %14.2f   (goal: at least 0.8)\n", "MixSoftwareBuffer / saturating add",
                    add > 0 ? mix / add : 0.0);
        std::printf("  %-40s %14.2f\n", "MixSoftwareBuffer / plain copy", copy > 0 ? mix / copy : 0.0);
        const double convert = bytesPerSecond_["BM_ConverterRead"] / 1e6;
        const double memcpyRate = bytesPerSecond_["BM_PcmMemcpy"] / 1e6;
        std::printf("\nPCM in memory handed out in %d-byte requests, MB/s on one core\n", kRequestBytes);
        std::printf("  %-40s %14.0f\n", "converter read", convert);
        std::printf("  %-40s %14.0f\n", "memcpy (the anchor)", memcpyRate);
        std::printf("  %-40s %14.2f\n", "converter read / memcpy", memcpyRate > 0 ? convert / memcpyRate : 0.0);
        const double vorbis = bytesPerSecond_["BM_VorbisConverter"] / 1e6;
        const double straight = bytesPerSecond_["BM_VorbisStraight"] / 1e6;
        std::printf("\nOgg Vorbis, 44.1 kHz stereo, decoded to PCM, MB/s on one core\n");
        std::printf("  %-40s %14.1f\n", "converter", vorbis);
        std::printf("  %-40s %14.1f\n", "straight ov_read loop (the anchor)", straight);
        std::printf("  %-40s %14.3f   (goal: at least 0.95)\n", "converter / straight ov_read",
                    straight > 0 ? vorbis / straight : 0.0);
        RecordRatio("Ogg Vorbis converter", "ov_read loop", straight > 0 ? vorbis / straight : 0.0);
        RecordRatio("MixSoftwareBuffer", "saturating add", add > 0 ? mix / add : 0.0);
        RecordRatio("converter read", "memcpy", memcpyRate > 0 ? convert / memcpyRate : 0.0);
    }

private:
    std::map<std::string, double> stepsPerSecond_;
    std::map<std::string, double> bytesPerSecond_;
};

}  // namespace

int main(int argc, char** argv) { return RunBenchmarksWithSummary<SummaryReporter>(argc, argv); }

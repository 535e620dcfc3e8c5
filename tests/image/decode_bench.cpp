// Decoding through the library beside the libraries' own decode of the same bytes: the PNG
// and JPEG test images of libpng's and libjpeg's source packages (the overhead of the stream
// layer and the conversion), and 32-bit BMP and TGA files of 1024 x 1024 beside memcpy of
// their pixels.
#include <benchmark/benchmark.h>

#include <csetjmp>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <map>
#include <string>
#include <vector>

#include <png.h>
#include <jpeglib.h>

#include "tests/bench_main.h"
#include "quarn/core/core.h"
#include "quarn/core/files.h"
#include "quarn/image/image.h"

namespace {

using Bytes = std::vector<uint8_t>;
namespace fs = std::filesystem;

std::vector<Bytes> CorpusFiles(const char* folder, const char* extension)
{
    std::vector<Bytes> files;
    const fs::path path = fs::path(QUARN_DEPS_SRC) / folder;
    std::error_code error;
    if (!fs::is_directory(path, error)) return files;
    for (const auto& entry : fs::directory_iterator(path)) {
        if (entry.path().extension() != extension) continue;
        std::ifstream in(entry.path(), std::ios::binary);
        files.emplace_back(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
    }
    return files;
}

// The files the library decodes: the others are refused the same way by both.
std::vector<Bytes> Decodable(std::vector<Bytes> files)
{
    std::vector<Bytes> kept;
    for (Bytes& f : files) {
        MemoryStream* m = OpenMemoryStream(f.data(), uint32_t(f.size()));
        const ImageStream s{GetMemoryStreamFunctions(), reinterpret_cast<StreamHandle>(m)};
        BaseImage image;
        if (DecodeImageStream(&s, &image) == 0) kept.push_back(std::move(f));
        DiscardBaseImage(&image);
        CloseMemoryStream(reinterpret_cast<StreamHandle>(m));
    }
    return kept;
}

const std::vector<Bytes>& PngFiles()
{
    static const std::vector<Bytes> files = [] {
        std::vector<Bytes> all = CorpusFiles("libpng1.6-1.6.39/contrib/pngsuite", ".png");
        for (auto& f : CorpusFiles("libpng1.6-1.6.39/contrib/pngsuite/interlaced", ".png")) all.push_back(f);
        for (auto& f : CorpusFiles("libpng1.6-1.6.39/contrib/testpngs", ".png")) all.push_back(f);
        return Decodable(std::move(all));
    }();
    return files;
}

const std::vector<Bytes>& JpegFiles()
{
    static const std::vector<Bytes> files = Decodable(CorpusFiles("libjpeg-turbo-2.1.5/testimages", ".jpg"));
    return files;
}

size_t TotalBytes(const std::vector<Bytes>& files)
{
    size_t n = 0;
    for (const Bytes& f : files) n += f.size();
    return n;
}

// Through the library: a memory stream, the front with its decoders in order, a base image.
void DecodeThroughLibrary(const Bytes& file)
{
    MemoryStream* m = OpenMemoryStream(file.data(), uint32_t(file.size()));
    const ImageStream s{GetMemoryStreamFunctions(), reinterpret_cast<StreamHandle>(m)};
    BaseImage image;
    DecodeImageStream(&s, &image);
    benchmark::DoNotOptimize(image.pixels);
    DiscardBaseImage(&image);
    CloseMemoryStream(reinterpret_cast<StreamHandle>(m));
}

// libpng by itself: the same transformations into one buffer, read from memory.
struct Cursor {
    const Bytes* file;
    size_t at;
};
void ReadCursor(png_structp png, png_bytep out, png_size_t length)
{
    auto* c = static_cast<Cursor*>(png_get_io_ptr(png));
    if (length > c->file->size() - c->at) png_error(png, "short");
    std::memcpy(out, c->file->data() + c->at, length);
    c->at += length;
}

int DecodePngDirect(const Bytes* file, uint8_t** pixels, png_bytep** rows)
{
    png_structp png = png_create_read_struct(PNG_LIBPNG_VER_STRING, nullptr, nullptr, nullptr);
    png_infop info = png_create_info_struct(png);
    Cursor cursor{file, 0};
    if (setjmp(png_jmpbuf(png))) {
        png_destroy_read_struct(&png, &info, nullptr);
        return -1;
    }
    png_set_read_fn(png, &cursor, ReadCursor);
    png_read_info(png, info);
    png_set_strip_16(png);
    png_set_packing(png);
    if ((png_get_color_type(png, info) == PNG_COLOR_TYPE_GRAY && png_get_bit_depth(png, info) <= 8) ||
        png_get_valid(png, info, PNG_INFO_tRNS))
        png_set_expand(png);
    png_set_bgr(png);
    png_set_interlace_handling(png);
    png_read_update_info(png, info);
    const size_t rowBytes = png_get_rowbytes(png, info);
    const uint32_t height = png_get_image_height(png, info);
    *pixels = static_cast<uint8_t*>(std::malloc(rowBytes * height));
    *rows = static_cast<png_bytep*>(std::malloc(height * sizeof(png_bytep)));
    for (uint32_t y = 0; y < height; ++y) (*rows)[y] = *pixels + y * rowBytes;
    png_read_image(png, *rows);
    png_read_end(png, nullptr);
    png_destroy_read_struct(&png, &info, nullptr);
    return 0;
}

int DecodeJpegDirect(const Bytes* file, uint8_t** pixels)
{
    jpeg_decompress_struct cinfo;
    jpeg_error_mgr error;
    cinfo.err = jpeg_std_error(&error);
    jpeg_create_decompress(&cinfo);
    jpeg_mem_src(&cinfo, file->data(), static_cast<unsigned long>(file->size()));
    jpeg_read_header(&cinfo, TRUE);
    if (cinfo.jpeg_color_space != JCS_GRAYSCALE) cinfo.out_color_space = JCS_EXT_BGR;
    jpeg_start_decompress(&cinfo);
    const size_t stride = size_t(cinfo.output_width) * cinfo.output_components;
    *pixels = static_cast<uint8_t*>(std::malloc(stride * cinfo.output_height));
    while (cinfo.output_scanline < cinfo.output_height) {
        JSAMPROW row = *pixels + cinfo.output_scanline * stride;
        jpeg_read_scanlines(&cinfo, &row, 1);
    }
    jpeg_finish_decompress(&cinfo);
    jpeg_destroy_decompress(&cinfo);
    return 0;
}

void SetBytes(benchmark::State& state, size_t bytes) { state.SetBytesProcessed(int64_t(bytes) * state.iterations()); }

void BM_PngLibrary(benchmark::State& state)
{
    const auto& files = PngFiles();
    if (files.empty()) return state.SkipWithError("libpng's test images are not unpacked");
    for (auto _ : state)
        for (const Bytes& f : files) DecodeThroughLibrary(f);
    SetBytes(state, TotalBytes(files));
}

void BM_PngDirect(benchmark::State& state)
{
    const auto& files = PngFiles();
    if (files.empty()) return state.SkipWithError("libpng's test images are not unpacked");
    for (auto _ : state)
        for (const Bytes& f : files) {
            uint8_t* pixels = nullptr;
            png_bytep* rows = nullptr;
            DecodePngDirect(&f, &pixels, &rows);
            benchmark::DoNotOptimize(pixels);
            std::free(pixels);
            std::free(rows);
        }
    SetBytes(state, TotalBytes(files));
}

void BM_JpegLibrary(benchmark::State& state)
{
    const auto& files = JpegFiles();
    if (files.empty()) return state.SkipWithError("libjpeg's test images are not unpacked");
    for (auto _ : state)
        for (const Bytes& f : files) DecodeThroughLibrary(f);
    SetBytes(state, TotalBytes(files));
}

void BM_JpegDirect(benchmark::State& state)
{
    const auto& files = JpegFiles();
    if (files.empty()) return state.SkipWithError("libjpeg's test images are not unpacked");
    for (auto _ : state)
        for (const Bytes& f : files) {
            uint8_t* pixels = nullptr;
            DecodeJpegDirect(&f, &pixels);
            benchmark::DoNotOptimize(pixels);
            std::free(pixels);
        }
    SetBytes(state, TotalBytes(files));
}

// ---- 32-bit BMP and TGA, bottom-up as such files usually are ----

constexpr int kSide = 1024;

Bytes Picture32()
{
    Bytes p(size_t(kSide) * kSide * 4);
    for (size_t i = 0; i < p.size(); ++i) p[i] = uint8_t(i * 7 + (i >> 12));
    return p;
}

const Bytes& Bmp32()
{
    static const Bytes file = [] {
        Bytes b(54, 0);
        const Bytes pixels = Picture32();
        b[0] = 'B';
        b[1] = 'M';
        auto put = [&](size_t at, uint32_t v) { std::memcpy(&b[at], &v, 4); };
        put(2, uint32_t(54 + pixels.size()));
        put(10, 54);
        put(14, 40);
        put(18, kSide);
        put(22, kSide);
        b[26] = 1;
        b[28] = 32;
        b.insert(b.end(), pixels.begin(), pixels.end());
        return b;
    }();
    return file;
}

const Bytes& Tga32()
{
    static const Bytes file = [] {
        Bytes b(18, 0);
        b[2] = 2;
        b[12] = kSide & 0xFF;
        b[13] = kSide >> 8;
        b[14] = kSide & 0xFF;
        b[15] = kSide >> 8;
        b[16] = 32;
        const Bytes pixels = Picture32();
        b.insert(b.end(), pixels.begin(), pixels.end());
        return b;
    }();
    return file;
}

// Into one image kept across loads, as a caller reloading pictures does: the picture takes
// the image's memory and nothing large is allocated per load.
void DecodeIntoKept(const Bytes& file, BaseImage* kept)
{
    MemoryStream* m = OpenMemoryStream(file.data(), uint32_t(file.size()));
    const ImageStream s{GetMemoryStreamFunctions(), reinterpret_cast<StreamHandle>(m)};
    DecodeImageStreamInto(&s, kept);
    benchmark::DoNotOptimize(kept->pixels);
    CloseMemoryStream(reinterpret_cast<StreamHandle>(m));
}

void BM_Bmp32Into(benchmark::State& state)
{
    BaseImage kept{};
    for (auto _ : state) DecodeIntoKept(Bmp32(), &kept);
    DiscardBaseImage(&kept);
    SetBytes(state, size_t(kSide) * kSide * 4);
}

void BM_Tga32Into(benchmark::State& state)
{
    BaseImage kept{};
    for (auto _ : state) DecodeIntoKept(Tga32(), &kept);
    DiscardBaseImage(&kept);
    SetBytes(state, size_t(kSide) * kSide * 4);
}

// The least a 32-bit BMP load has to do, in plain code of our own: the stored rows copied out
// of the file (bottom-up, into a kept buffer) and their pixels cut to the three colour bytes
// the 24-bit result holds.
void BM_Bmp32Minimal(benchmark::State& state)
{
    const Bytes& file = Bmp32();
    const size_t pitch = size_t(kSide) * 3;
    Bytes row(size_t(kSide) * 4), out(pitch * kSide);
    for (auto _ : state) {
        for (int y = 0; y < kSide; ++y) {
            std::memcpy(row.data(), file.data() + 54 + size_t(kSide - 1 - y) * kSide * 4, row.size());
            uint8_t* d = out.data() + size_t(y) * pitch;
            for (int x = 0; x < kSide; ++x) std::memcpy(d + 3 * x, &row[4 * size_t(x)], 3);
        }
        benchmark::DoNotOptimize(out.data());
    }
    SetBytes(state, size_t(kSide) * kSide * 4);
}

// The step of a 32-bit BMP load that its 24-bit result prescribes, alone: the converting
// copy of the picture's pixels into 24-bit rows, both buffers kept.
void BM_Cut32To24(benchmark::State& state)
{
    const Bytes src = Picture32();
    ColorFormat xrgb{}, rgb{};
    SetupFormatFromMasks(&xrgb, 32, 0xFF0000, 0xFF00, 0xFF, 0);
    SetupRgb888Format(&rgb);
    Bytes out(size_t(kSide) * kSide * 3);
    const PixelRect rect = {0, 0, kSide, kSide};
    for (auto _ : state) {
        ConvertPixelRect(out.data(), kSide * 3, &rgb, src.data(), kSide * 4, &xrgb, nullptr, 0, nullptr, 0, 0, &rect, 0,
                         0, 0, 0, 0, 0, 0, 0);
        benchmark::DoNotOptimize(out.data());
    }
    SetBytes(state, src.size());
}

void BM_Bmp32(benchmark::State& state)
{
    for (auto _ : state) DecodeThroughLibrary(Bmp32());
    SetBytes(state, size_t(kSide) * kSide * 4);
}

void BM_Tga32(benchmark::State& state)
{
    for (auto _ : state) DecodeThroughLibrary(Tga32());
    SetBytes(state, size_t(kSide) * kSide * 4);
}

void BM_Memcpy32(benchmark::State& state)
{
    const Bytes src = Picture32();
    Bytes dst(src.size());
    for (auto _ : state) {
        std::memcpy(dst.data(), src.data(), src.size());
        benchmark::DoNotOptimize(dst.data());
    }
    SetBytes(state, src.size());
}

BENCHMARK(BM_PngLibrary)->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_PngDirect)->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_JpegLibrary)->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_JpegDirect)->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_Bmp32)->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_Tga32)->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_Bmp32Into)->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_Tga32Into)->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_Bmp32Minimal)->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_Cut32To24)->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_Memcpy32)->Unit(benchmark::kMicrosecond);

// The usual output, then the time through the library over the anchor's.
class SummaryReporter : public benchmark::ConsoleReporter {
public:
    void ReportRuns(const std::vector<Run>& runs) override
    {
        ConsoleReporter::ReportRuns(runs);
        for (const Run& r : runs)
            if (!r.error_occurred) {
                seconds_[r.benchmark_name()] = r.GetAdjustedRealTime();
                rate_[r.benchmark_name()] = r.counters.count("bytes_per_second")
                                                ? r.counters.at("bytes_per_second").value
                                                : 0;
            }
    }
    void Finalize() override
    {
        ConsoleReporter::Finalize();
        auto ratio = [&](const char* a, const char* b) {
            return seconds_.count(a) && seconds_.count(b) && seconds_[b] > 0 ? seconds_[a] / seconds_[b] : 0.0;
        };
        std::printf("\n%-34s %8s\n", "through the library / anchor", "time");
        std::printf("%-34s %8.3f  (goal: at most 1.10)\n", "PNG test images / libpng alone",
                    ratio("BM_PngLibrary", "BM_PngDirect"));
        std::printf("%-34s %8.3f  (goal: at most 1.10)\n", "JPEG test images / libjpeg alone",
                    ratio("BM_JpegLibrary", "BM_JpegDirect"));
        std::printf("%-34s %8.3f  (%.0f MB/s, memcpy %.0f MB/s)\n", "32-bit BMP 1024x1024 / memcpy",
                    ratio("BM_Bmp32", "BM_Memcpy32"), rate_["BM_Bmp32"] / 1e6, rate_["BM_Memcpy32"] / 1e6);
        std::printf("%-34s %8.3f  (%.0f MB/s)\n", "32-bit TGA 1024x1024 / memcpy", ratio("BM_Tga32", "BM_Memcpy32"),
                    rate_["BM_Tga32"] / 1e6);
        std::printf("%-34s %8.3f  (%.0f MB/s)\n", "  into a kept image / memcpy", ratio("BM_Tga32Into", "BM_Memcpy32"),
                    rate_["BM_Tga32Into"] / 1e6);
        std::printf("%-34s %8.3f  (%.0f MB/s)\n", "32-bit BMP into a kept image / memcpy",
                    ratio("BM_Bmp32Into", "BM_Memcpy32"), rate_["BM_Bmp32Into"] / 1e6);
        std::printf("%-34s %8.3f  (%.0f MB/s; the copy out and the cut to 24 bits alone)\n",
                    "  minimal BMP load / memcpy", ratio("BM_Bmp32Minimal", "BM_Memcpy32"),
                    rate_["BM_Bmp32Minimal"] / 1e6);
        std::printf("%-34s %8.3f\n", "  into a kept image / minimal", ratio("BM_Bmp32Into", "BM_Bmp32Minimal"));
        // What of the BMP load is the cut to 24 bits its result prescribes, and what the rest
        // (the times are in the benchmarks' unit, microseconds).
        if (seconds_.count("BM_Bmp32Into") && seconds_.count("BM_Cut32To24") && seconds_.count("BM_Memcpy32"))
            std::printf("%-34s %8.0f us = cut to 24 bits %.0f us + memcpy %.0f us + %.0f us other\n",
                        "  BMP load into a kept image", seconds_["BM_Bmp32Into"], seconds_["BM_Cut32To24"],
                        seconds_["BM_Memcpy32"],
                        seconds_["BM_Bmp32Into"] - seconds_["BM_Cut32To24"] - seconds_["BM_Memcpy32"]);
        // The table's ratios are of speed: the anchor's time over ours.
        const struct {
            const char *what, *anchor, *ours, *theirs;
        } rows[] = {
            {"PNG decode", "libpng alone", "BM_PngLibrary", "BM_PngDirect"},
            {"JPEG decode", "libjpeg alone", "BM_JpegLibrary", "BM_JpegDirect"},
            {"32-bit BMP load", "memcpy", "BM_Bmp32", "BM_Memcpy32"},
            {"32-bit TGA load", "memcpy", "BM_Tga32", "BM_Memcpy32"},
            {"32-bit BMP load into a kept image", "memcpy", "BM_Bmp32Into", "BM_Memcpy32"},
            {"32-bit TGA load into a kept image", "memcpy", "BM_Tga32Into", "BM_Memcpy32"},
            {"32-bit BMP load into a kept image", "minimal load of our own", "BM_Bmp32Into", "BM_Bmp32Minimal"},
        };
        for (const auto& row : rows) RecordRatio(row.what, row.anchor, ratio(row.theirs, row.ours));
    }

private:
    std::map<std::string, double> seconds_, rate_;
};

}  // namespace

int main(int argc, char** argv) { return RunBenchmarksWithSummary<SummaryReporter>(argc, argv); }

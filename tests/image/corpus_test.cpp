// The decoders on images no one here made: the PNG test suites of libpng's source package
// against libpng's own simplified decode, and the JPEG and BMP test images of libjpeg's
// against libjpeg's own decode and a plain reading of the BMP files. Plus what the PNG and
// JPEG decoders must do beyond those files: cut and empty streams, grey and CMYK JPEG.
#include <gtest/gtest.h>

#include <png.h>

#include <algorithm>
#include <csetjmp>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <vector>

#include <jpeglib.h>

#include "decode_helpers.h"

namespace test {
namespace {

namespace fs = std::filesystem;

std::vector<std::string> FilesIn(const std::string& folder, const char* extension)
{
    std::vector<std::string> files;
    for (const auto& entry : fs::directory_iterator(folder))
        if (entry.path().extension() == extension) files.push_back(entry.path().string());
    std::sort(files.begin(), files.end());
    return files;
}

// ---- PNG ----

// The file without its colour-space chunks: the decoder reads samples as they are stored, and
// so does libpng's simplified decode when it finds no gamma to correct.
Bytes WithoutColourSpace(const Bytes& png)
{
    if (png.size() < 8) return png;
    Bytes out(png.begin(), png.begin() + 8);
    size_t at = 8;
    while (at + 12 <= png.size()) {
        const uint32_t length = uint32_t(png[at]) << 24 | png[at + 1] << 16 | png[at + 2] << 8 | png[at + 3];
        const std::string type(png.begin() + long(at + 4), png.begin() + long(at + 8));
        const size_t end = std::min(png.size(), at + 12 + size_t(length));
        if (type != "gAMA" && type != "sRGB" && type != "iCCP" && type != "cHRM")
            out.insert(out.end(), png.begin() + long(at), png.begin() + long(end));
        if (length > png.size()) break;
        at += 12 + size_t(length);
    }
    out.insert(out.end(), png.begin() + long(std::min(at, png.size())), png.end());
    return out;
}

// libpng's simplified decode: 8-bit samples for files of up to 8 bits, 16-bit linear samples
// for 16-bit files (its 8-bit output of interlaced 16-bit files is wrong in this libpng).
// Linear samples with alpha come premultiplied.
// True when a chunk claims more bytes than the file holds: such a file is cut or corrupt.
// (libpng clears room for the claim before it finds out, seconds for the test files.)
bool ChunkOverrunsFile(const Bytes& png)
{
    for (size_t at = 8; at + 8 <= png.size();) {
        const uint64_t length = uint32_t(png[at]) << 24 | png[at + 1] << 16 | png[at + 2] << 8 | png[at + 3];
        if (at + 12 + length > png.size()) return true;
        at += 12 + size_t(length);
    }
    return false;
}

struct Reference {
    bool ok = false;
    bool linear = false;
    int width = 0, height = 0;
    std::vector<uint16_t> bgra;
};

Reference DecodeWithLibpng(const Bytes& file)
{
    Reference ref;
    const Bytes plain = WithoutColourSpace(file);
    png_image image{};
    image.version = PNG_IMAGE_VERSION;
    if (!png_image_begin_read_from_memory(&image, plain.data(), plain.size())) return ref;
    ref.linear = file.size() > 24 && file[24] == 16;
    image.format = ref.linear ? PNG_FORMAT_LINEAR_RGB_ALPHA | PNG_FORMAT_FLAG_BGR : PNG_FORMAT_BGRA;
    ref.width = int(image.width);
    ref.height = int(image.height);
    const size_t samples = size_t(ref.width) * ref.height * 4;
    std::vector<uint8_t> bytes(PNG_IMAGE_SIZE(image));
    ref.ok = png_image_finish_read(&image, nullptr, bytes.data(), 0, nullptr) != 0;
    png_image_free(&image);
    ref.bgra.resize(samples);
    for (size_t i = 0; i < samples && ref.ok; ++i) {
        if (ref.linear) std::memcpy(&ref.bgra[i], &bytes[2 * i], 2);
        else ref.bgra[i] = bytes[i];
    }
    return ref;
}

// Colour and alpha of every pixel as libpng gives them. 16-bit samples keep their high byte;
// premultiplied ones are divided back where alpha leaves enough precision to compare, within
// one. An image without alpha must have been opaque.
void ExpectSamePixels(Decoded& im, const Reference& ref)
{
    ASSERT_EQ(im.width, ref.width);
    ASSERT_EQ(im.height, ref.height);
    const bool hasAlpha = im.format.alphaWidth != 0;
    for (int y = 0; y < ref.height; ++y)
        for (int x = 0; x < ref.width; ++x) {
            const uint32_t got = im.Argb(x, y);
            const int channel[4] = {int(got & 0xFF), int(got >> 8 & 0xFF), int(got >> 16 & 0xFF),
                                    hasAlpha ? int(got >> 24) : 255};
            const uint16_t* want = &ref.bgra[(size_t(y) * ref.width + x) * 4];
            bool same = channel[3] == (ref.linear ? want[3] >> 8 : want[3]);
            for (int c = 0; c < 3; ++c) {
                if (!ref.linear) {
                    same = same && channel[c] == want[c];
                } else if (want[3] == 65535) {
                    same = same && channel[c] == want[c] >> 8;
                } else if (want[3] >= 4096) {
                    const int straight = int((uint32_t(want[c]) * 65535 + want[3] / 2) / want[3]) >> 8;
                    same = same && std::abs(channel[c] - straight) <= 1;
                }
            }
            if (!same) {
                ADD_FAILURE() << "pixel " << x << "," << y << ": got " << std::hex << got
                              << (hasAlpha ? "" : " (no alpha)") << ", libpng " << want[2] << " " << want[1] << " "
                              << want[0] << " alpha " << want[3];
                return;
            }
        }
}

TEST(PngCorpus, MatchesLibpngOnEveryTestFile)
{
    const std::string base = DepsSource("libpng1.6-1.6.39/contrib");
    if (base.empty()) GTEST_SKIP() << "libpng's source package is not unpacked under .deps/src";
    int decoded = 0, refused = 0;
    for (const char* folder : {"pngsuite", "pngsuite/interlaced", "testpngs", "testpngs/crashers"}) {
        for (const std::string& path : FilesIn(base + "/" + folder, ".png")) {
            SCOPED_TRACE(path);
            const Bytes file = ReadFileBytes(path);
            const Reference ref = ChunkOverrunsFile(file) ? Reference{} : DecodeWithLibpng(file);
            const int32_t before = LiveBlocks();
            Decoded im;
            const int result = DecodeBytes(file, &im, DecodePngStream);
            if (!ref.ok) {
                // Corrupt files: libpng refuses them, and so does the decoder.
                EXPECT_EQ(result, -1);
                EXPECT_EQ(LiveBlocks(), before);
                ++refused;
                continue;
            }
            ASSERT_EQ(result, 0);
            ExpectSamePixels(im, ref);
            ++decoded;
        }
    }
    EXPECT_GT(decoded, 150);
    EXPECT_GT(refused, 0);
}

// The layouts the decoder hands out for each kind of PNG.
TEST(PngCorpus, ChoosesTheLayoutByColourType)
{
    const std::string base = DepsSource("libpng1.6-1.6.39/contrib/pngsuite");
    if (base.empty()) GTEST_SKIP() << "libpng's source package is not unpacked under .deps/src";
    struct Case {
        const char* file;
        int bytesPerPixel;
        int alphaWidth;
        int pitch;  // rows as libpng gives them, not rounded up
    };
    const Case cases[] = {
        {"basn0g01.png", 1, 0, 32},    // 1-bit grey: a grey palette of 0 and 255
        {"basn0g16.png", 1, 0, 32},    // 16-bit grey: high bytes
        {"basn3p04.png", 1, 0, 32},    // paletted, no transparency: indices
        {"ftbbn3p08.png", 4, 8, 128},  // paletted with transparency: A8R8G8B8
        {"basn2c08.png", 3, 0, 96},   {"basn2c16.png", 3, 0, 96}, {"basn4a08.png", 2, 8, 64},  // grey and alpha
        {"basn6a16.png", 4, 8, 128},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.file);
        Decoded im;
        ASSERT_EQ(DecodeBytes(ReadFileBytes(base + "/" + c.file), &im), 0);
        EXPECT_EQ(im.format.bytesPerPixel, c.bytesPerPixel);
        EXPECT_EQ(im.format.alphaWidth, c.alphaWidth);
        EXPECT_EQ(im.pitch, c.pitch);
    }
    // basn0g01 is black and white; basn3p04 has 15 colours, the entries after them stay 0.
    Decoded grey;
    ASSERT_EQ(DecodeBytes(ReadFileBytes(base + "/basn0g01.png"), &grey), 0);
    for (int x = 0; x < 32; ++x) EXPECT_TRUE(grey.Row(0)[x] == 0 || grey.Row(0)[x] == 255);
    Decoded paletted;
    ASSERT_EQ(DecodeBytes(ReadFileBytes(base + "/basn3p04.png"), &paletted), 0);
    for (int i = 15; i < 256; ++i) EXPECT_EQ(paletted.format.palette[i].red, 0) << i;
}

TEST(PngDecoder, RefusesEveryCutOfAFile)
{
    const std::string base = DepsSource("libpng1.6-1.6.39/contrib/pngsuite");
    if (base.empty()) GTEST_SKIP() << "libpng's source package is not unpacked under .deps/src";
    const Bytes file = ReadFileBytes(base + "/basn6a08.png");
    const int32_t before = LiveBlocks();
    for (size_t cut = 0; cut < file.size(); cut += 7) {
        Decoded im;
        EXPECT_EQ(DecodeBytes(Bytes(file.begin(), file.begin() + long(cut)), &im), -1) << cut;
    }
    EXPECT_EQ(LiveBlocks(), before);
}

// ---- JPEG ----

struct JpegReference {
    bool ok = false;
    int width = 0, height = 0, components = 0;
    std::vector<uint8_t> samples;  // RGB or grey
};

struct ReferenceError {
    jpeg_error_mgr manager;
    jmp_buf jump;
};

void QuietExit(j_common_ptr cinfo) { longjmp(reinterpret_cast<ReferenceError*>(cinfo->err)->jump, 1); }
void Quiet(j_common_ptr) {}

// libjpeg's error exit jumps out of this function's own calls only, and it holds nothing
// that needs a destructor.
int ReadWithLibjpeg(const uint8_t* data, size_t size, uint8_t** samples, int* width, int* height, int* components)
{
    jpeg_decompress_struct cinfo;
    ReferenceError error;
    cinfo.err = jpeg_std_error(&error.manager);
    error.manager.error_exit = QuietExit;
    error.manager.output_message = Quiet;
    *samples = nullptr;
    if (setjmp(error.jump)) {
        jpeg_destroy_decompress(&cinfo);
        std::free(*samples);
        *samples = nullptr;
        return -1;
    }
    jpeg_create_decompress(&cinfo);
    jpeg_mem_src(&cinfo, data, static_cast<unsigned long>(size));
    jpeg_read_header(&cinfo, TRUE);
    jpeg_start_decompress(&cinfo);
    const size_t stride = size_t(cinfo.output_width) * cinfo.output_components;
    *samples = static_cast<uint8_t*>(std::malloc(stride * cinfo.output_height));
    while (cinfo.output_scanline < cinfo.output_height) {
        JSAMPROW row = *samples + cinfo.output_scanline * stride;
        jpeg_read_scanlines(&cinfo, &row, 1);
    }
    *width = int(cinfo.output_width);
    *height = int(cinfo.output_height);
    *components = cinfo.output_components;
    jpeg_finish_decompress(&cinfo);
    jpeg_destroy_decompress(&cinfo);
    return 0;
}

JpegReference DecodeWithLibjpeg(const Bytes& file)
{
    JpegReference ref;
    uint8_t* samples = nullptr;
    ref.ok = ReadWithLibjpeg(file.data(), file.size(), &samples, &ref.width, &ref.height, &ref.components) == 0;
    if (ref.ok) ref.samples.assign(samples, samples + size_t(ref.width) * ref.height * ref.components);
    std::free(samples);
    return ref;
}

void ExpectSameAsLibjpeg(Decoded& im, const JpegReference& ref)
{
    ASSERT_EQ(im.width, ref.width);
    ASSERT_EQ(im.height, ref.height);
    ASSERT_EQ(im.pitch, ref.width * ref.components);  // not rounded up
    ASSERT_EQ(im.format.bytesPerPixel, ref.components == 1 ? 1 : 3);
    for (int y = 0; y < ref.height; ++y)
        for (int x = 0; x < ref.width; ++x) {
            const uint8_t* s = &ref.samples[(size_t(y) * ref.width + x) * ref.components];
            const uint32_t want = ref.components == 1 ? uint32_t(s[0]) * 0x010101u
                                                      : uint32_t(s[0]) << 16 | s[1] << 8 | s[2];
            ASSERT_EQ(im.Rgb(x, y), want) << x << "," << y;
        }
}

TEST(JpegCorpus, MatchesLibjpegOnTheTestImages)
{
    const std::string base = DepsSource("libjpeg-turbo-2.1.5/testimages");
    if (base.empty()) GTEST_SKIP() << "libjpeg's source package is not unpacked under .deps/src";
    int decoded = 0;
    for (const std::string& path : FilesIn(base, ".jpg")) {
        SCOPED_TRACE(path);
        const Bytes file = ReadFileBytes(path);
        const JpegReference ref = DecodeWithLibjpeg(file);
        const int32_t before = LiveBlocks();
        Decoded im;
        const int result = DecodeBytes(file, &im);
        if (!ref.ok) {  // 12-bit samples: this libjpeg reads 8 bits only
            EXPECT_EQ(result, -1);
            EXPECT_EQ(LiveBlocks(), before);
            continue;
        }
        ASSERT_EQ(result, 0);
        ExpectSameAsLibjpeg(im, ref);
        ++decoded;
    }
    EXPECT_GE(decoded, 3);
}

// A JPEG made here with libjpeg: grey or CMYK, 40 x 24.
Bytes MakeJpeg(J_COLOR_SPACE space, int components)
{
    jpeg_compress_struct cinfo;
    jpeg_error_mgr error;
    cinfo.err = jpeg_std_error(&error);
    jpeg_create_compress(&cinfo);
    unsigned char* out = nullptr;
    unsigned long size = 0;
    jpeg_mem_dest(&cinfo, &out, &size);
    cinfo.image_width = 40;
    cinfo.image_height = 24;
    cinfo.input_components = components;
    cinfo.in_color_space = space;
    jpeg_set_defaults(&cinfo);
    jpeg_start_compress(&cinfo, TRUE);
    std::vector<uint8_t> row(40 * size_t(components));
    while (cinfo.next_scanline < cinfo.image_height) {
        for (size_t i = 0; i < row.size(); ++i) row[i] = uint8_t(i * 5 + cinfo.next_scanline * 9);
        JSAMPROW r = row.data();
        jpeg_write_scanlines(&cinfo, &r, 1);
    }
    jpeg_finish_compress(&cinfo);
    jpeg_destroy_compress(&cinfo);
    Bytes file(out, out + size);
    free(out);
    return file;
}

TEST(JpegDecoder, ReadsGreyRefusesCmykAndDecodesACutFileToItsEnd)
{
    const Bytes grey = MakeJpeg(JCS_GRAYSCALE, 1);
    Decoded g;
    ASSERT_EQ(DecodeBytes(grey, &g), 0);
    EXPECT_EQ(g.format.bytesPerPixel, 1);
    EXPECT_EQ(g.format.palette[200].red, 200);  // the grey palette
    ExpectSameAsLibjpeg(g, DecodeWithLibjpeg(grey));

    const int32_t before = LiveBlocks();
    Decoded cmyk;
    EXPECT_EQ(DecodeBytes(MakeJpeg(JCS_CMYK, 4), &cmyk), -1);
    // The start-of-image marker and nothing more: libjpeg finds no image.
    Decoded empty;
    EXPECT_EQ(DecodeBytes(Bytes{0xFF, 0xD8}, &empty), -1);
    EXPECT_EQ(LiveBlocks(), before);

    // Cut in the middle of its entropy-coded data, a file still decodes: the rest is filled
    // in by libjpeg, the rows before the cut are as in the whole file.
    const std::string base = DepsSource("libjpeg-turbo-2.1.5/testimages");
    if (base.empty()) GTEST_SKIP() << "libjpeg's source package is not unpacked under .deps/src";
    const Bytes whole = ReadFileBytes(base + "/testorig.jpg");
    Decoded full, cut;
    ASSERT_EQ(DecodeBytes(whole, &full), 0);
    ASSERT_EQ(DecodeBytes(Bytes(whole.begin(), whole.begin() + long(whole.size() * 2 / 3)), &cut), 0);
    ASSERT_EQ(cut.width, full.width);
    EXPECT_EQ(std::memcmp(cut.pixels, full.pixels, size_t(full.pitch) * 16), 0);
}

// ---- BMP ----

TEST(BmpCorpus, MatchesAPlainReadingOfTheTestImages)
{
    const std::string base = DepsSource("libjpeg-turbo-2.1.5/testimages");
    if (base.empty()) GTEST_SKIP() << "libjpeg's source package is not unpacked under .deps/src";
    int decoded = 0;
    for (const std::string& path : FilesIn(base, ".bmp")) {
        SCOPED_TRACE(path);
        const Bytes file = ReadFileBytes(path);
        // All of them are 24-bit, bottom-up: rows of blue, green, red, padded to 4 bytes.
        const uint32_t offset = uint32_t(file[10]) | file[11] << 8 | file[12] << 16 | uint32_t(file[13]) << 24;
        const int width = int(file[18] | file[19] << 8 | file[20] << 16 | file[21] << 24);
        const int height = int(file[22] | file[23] << 8 | file[24] << 16 | file[25] << 24);
        ASSERT_EQ(file[28], 24);
        const size_t pitch = (size_t(width) * 3 + 3) / 4 * 4;
        Decoded im;
        ASSERT_EQ(DecodeBytes(file, &im), 0);
        ASSERT_EQ(im.width, width);
        ASSERT_EQ(im.height, height);
        for (int y = 0; y < height; ++y)
            for (int x = 0; x < width; ++x) {
                const uint8_t* p = &file[offset + size_t(height - 1 - y) * pitch + size_t(x) * 3];
                ASSERT_EQ(im.Rgb(x, y), uint32_t(p[2]) << 16 | p[1] << 8 | p[0]) << x << "," << y;
            }
        ++decoded;
    }
    EXPECT_EQ(decoded, 4);
}

}  // namespace
}  // namespace test

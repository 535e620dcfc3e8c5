// The load front (files through the library's file table, memory blocks, mirroring, the alpha
// companion) and held images.
#include <gtest/gtest.h>

#ifdef _WIN32
#include <windows.h>
#endif

#include <cstdio>
#include <filesystem>
#include <string>

#include "decode_helpers.h"
#include "quarn/core/handle.h"

namespace test {
namespace {

namespace fs = std::filesystem;

// A 24-bit top-down BMP of width x height whose pixel (x, y) is base + x + 16 y in blue.
Bytes SmallBmp(int width, int height, uint8_t base)
{
    const int pitch = (width * 3 + 3) / 4 * 4;
    Bytes b;
    PutBmpHeaders(b, width, -height, 24, 0, 0, uint32_t(pitch * height));
    for (int y = 0; y < height; ++y) {
        for (int x = 0; x < width; ++x) b.insert(b.end(), {uint8_t(base + x + 16 * y), 0, 0});
        b.resize(b.size() + size_t(pitch - width * 3), 0);
    }
    return b;
}

// Plain files through stdio as the library's file table, counting what is open.
int g_openFiles = 0;

FileHandle OpenStdio(const wchar_t* path, int, int, int)
{
    std::string narrow;
    for (const wchar_t* p = path; *p; ++p) narrow.push_back(char(*p));
    std::FILE* f = std::fopen(narrow.c_str(), "rb");
    if (f) ++g_openFiles;
    return reinterpret_cast<FileHandle>(f);
}
std::FILE* Of(FileHandle file) { return reinterpret_cast<std::FILE*>(file); }
int CloseStdio(FileHandle file)
{
    --g_openFiles;
    return std::fclose(Of(file)) == 0 ? 0 : -1;
}
int32_t TellStdio(FileHandle file) { return int32_t(std::ftell(Of(file))); }
int SeekStdio(FileHandle file, int32_t offset, int origin)
{
    return std::fseek(Of(file), offset, origin == 0 ? SEEK_SET : origin == 1 ? SEEK_CUR : SEEK_END) == 0 ? 0 : -1;
}
int32_t ReadStdio(void* buffer, uint32_t size, uint32_t count, FileHandle file)
{
    return int32_t(std::fread(buffer, size, count, Of(file)));
}
int AtEndStdio(FileHandle file) { return std::feof(Of(file)) ? -1 : 0; }
int IdleStdio(FileHandle) { return 1; }
int SetDirNone(const wchar_t*) { return 0; }
int GetDirNone(wchar_t* buffer)
{
    buffer[0] = 0;
    return 0;
}
intptr_t FindFirstNone(const wchar_t*, FileInfoRecord*) { return -1; }
int FindNextNone(intptr_t, FileInfoRecord*) { return -1; }
int FindCloseNone(intptr_t) { return -1; }

class LoadFront : public ::testing::Test {
protected:
    void SetUp() override
    {
        static const FileFunctionTable stdio = {OpenStdio,  CloseStdio,    TellStdio,    SeekStdio,
                                                ReadStdio,  AtEndStdio,    IdleStdio,    SetDirNone,
                                                GetDirNone, FindFirstNone, FindNextNone, FindCloseNone};
        InstallFileFunctions(&stdio);
        folder_ = fs::temp_directory_path() /
                  ("quarn_load_" + std::to_string(::testing::UnitTest::GetInstance()->random_seed()) + "_" +
                   std::to_string(reinterpret_cast<uintptr_t>(this)));
        fs::create_directories(folder_ / "set.v2");
        g_openFiles = 0;
    }
    void TearDown() override
    {
        InstallFileFunctions(nullptr);
        fs::remove_all(folder_);
        EXPECT_EQ(g_openFiles, 0);
    }
    std::wstring Write(const std::string& name, const Bytes& bytes)
    {
        std::FILE* f = std::fopen((folder_ / name).string().c_str(), "wb");
        std::fwrite(bytes.data(), 1, bytes.size(), f);
        std::fclose(f);
        return Path(name);
    }
    std::wstring Path(const std::string& name) const
    {
        const std::string s = (folder_ / name).string();
        return std::wstring(s.begin(), s.end());
    }
    fs::path folder_;
};

TEST_F(LoadFront, DecodesFilesAndMemoryAndMirrors)
{
    const Bytes bmp = SmallBmp(3, 2, 10);
    const std::wstring path = Write("pic.bmp", bmp);
    Decoded fromFile, fromMemory, mirrored;
    ASSERT_EQ(DecodeImageToBaseImage(path.c_str(), nullptr, 0, 0, &fromFile, 0), 0);
    ASSERT_EQ(DecodeImageToBaseImage(nullptr, bmp.data(), int32_t(bmp.size()), 1, &fromMemory, 0), 0);
    ASSERT_EQ(DecodeImageToBaseImage(path.c_str(), nullptr, 0, 0, &mirrored, 1), 0);
    for (int y = 0; y < 2; ++y)
        for (int x = 0; x < 3; ++x) {
            EXPECT_EQ(fromFile.Rgb(x, y), uint32_t(10 + x + 16 * y));
            EXPECT_EQ(fromMemory.Rgb(x, y), uint32_t(10 + x + 16 * y));
            EXPECT_EQ(mirrored.Rgb(2 - x, y), uint32_t(10 + x + 16 * y));
        }

    const int32_t before = LiveBlocks();
    Decoded none;
    EXPECT_EQ(DecodeImageToBaseImage(Path("missing.bmp").c_str(), nullptr, 0, 0, &none, 0), -1);
    EXPECT_EQ(DecodeImageToBaseImage(nullptr, bmp.data(), -1, 1, &none, 0), -1);
    EXPECT_EQ(DecodeImageToBaseImage(nullptr, bmp.data(), 20, 1, &none, 0), -1);
    EXPECT_EQ(LiveBlocks(), before);
}

// Loading into a kept image: the picture takes its memory from a file or a memory block, and a
// file that cannot be opened discards the image.
TEST_F(LoadFront, LoadsIntoAKeptImage)
{
    const Bytes big = SmallBmp(8, 8, 1), small = SmallBmp(3, 2, 40);
    const std::wstring path = Write("small.bmp", small);
    Decoded image;
    ASSERT_EQ(DecodeImageToBaseImage(nullptr, big.data(), int32_t(big.size()), 1, &image, 0), 0);
    uint8_t* const memory = image.pixels;
    const int32_t before = LiveBlocks();
    ASSERT_EQ(DecodeImageIntoBaseImage(path.c_str(), nullptr, 0, 0, &image, 0), 0);
    EXPECT_EQ(image.pixels, memory);
    EXPECT_EQ(image.width, 3);
    EXPECT_EQ(image.Rgb(2, 1), uint32_t(40 + 2 + 16));
    ASSERT_EQ(DecodeImageIntoBaseImage(nullptr, big.data(), int32_t(big.size()), 1, &image, 0), 0);
    EXPECT_EQ(image.pixels, memory);
    EXPECT_EQ(image.Rgb(7, 7), uint32_t(1 + 7 + 16 * 7));
    EXPECT_EQ(LiveBlocks(), before);

    EXPECT_EQ(DecodeImageIntoBaseImage(Path("missing.bmp").c_str(), nullptr, 0, 0, &image, 0), -1);
    EXPECT_EQ(image.pixels, nullptr);
    EXPECT_EQ(image.width, 0);
    EXPECT_EQ(LiveBlocks(), before - 1);
}

// A block-compressed image is expanded before its rows are reversed.
TEST_F(LoadFront, MirrorsBlockCompressedImages)
{
    Bytes dds;
    PutText(dds, "DDS ");
    Put32(dds, 124);
    Put32(dds, 0x1007);
    Put32(dds, 4);  // height
    Put32(dds, 4);  // width
    dds.resize(4 + 76, 0);
    Put32(dds, 4);
    PutText(dds, "DXT1");
    dds.resize(4 + 124, 0);
    // Red and blue; row 0 indices 3 2 1 0.
    dds.insert(dds.end(), {0x00, 0xF8, 0x1F, 0x00, 0b00011011, 0, 0, 0});
    Decoded plain, mirrored;
    ASSERT_EQ(DecodeImageToBaseImage(nullptr, dds.data(), int32_t(dds.size()), 1, &plain, 0), 0);
    ASSERT_EQ(DecodeImageToBaseImage(nullptr, dds.data(), int32_t(dds.size()), 1, &mirrored, 1), 0);
    EXPECT_EQ(mirrored.format.compression, 0u);
    for (int x = 0; x < 4; ++x) EXPECT_EQ(mirrored.Argb(x, 0), plain.Argb(3 - x, 0));
}

TEST_F(LoadFront, LoadsTheAlphaCompanion)
{
    const Bytes main = SmallBmp(2, 2, 1), alpha = SmallBmp(2, 2, 100);
    // A dot in a folder's name does not take the "_a".
    const std::wstring path = Write("set.v2/pic.bmp", main);
    Write("set.v2/pic_a.bmp", alpha);
    Write("pic.bmp", main);

    Decoded image, alphaImage;
    EXPECT_EQ(DecodeImageWithAlpha(path.c_str(), nullptr, 0, 0, nullptr, 0, 0, &image, &alphaImage, 0), 0);
    EXPECT_EQ(alphaImage.Rgb(1, 1), 100u + 1 + 16);

    // No companion: 1, and the alpha image is not written.
    Decoded lone, untouched;
    untouched.width = 77;
    EXPECT_EQ(DecodeImageWithAlpha(Path("pic.bmp").c_str(), nullptr, 0, 0, nullptr, 0, 0, &lone, &untouched, 0), 1);
    EXPECT_EQ(untouched.width, 77);
    EXPECT_EQ(untouched.pixels, nullptr);
    untouched.width = 0;

    // From memory, with its alpha from memory or with none.
    Decoded memImage, memAlpha, noAlpha, noAlphaImage;
    EXPECT_EQ(DecodeImageWithAlpha(nullptr, main.data(), int32_t(main.size()), 1, alpha.data(), int32_t(alpha.size()),
                                   1, &memImage, &memAlpha, 1),
              0);
    EXPECT_EQ(memAlpha.Rgb(0, 0), 101u);  // mirrored like the image
    EXPECT_EQ(DecodeImageWithAlpha(nullptr, main.data(), int32_t(main.size()), 1, nullptr, 0, 2, &noAlphaImage,
                                   &noAlpha, 0),
              1);

    // A main image that cannot be read fails the call.
    Decoded failed, failedAlpha;
    EXPECT_EQ(DecodeImageWithAlpha(Path("none.bmp").c_str(), nullptr, 0, 0, nullptr, 0, 0, &failed, &failedAlpha, 0),
              -1);
}

TEST(AlphaCompanionName, PutsTheMarkBeforeTheExtensionOfTheLastElement)
{
    const std::pair<const wchar_t*, const wchar_t*> cases[] = {
        {L"pic.png", L"pic_a.png"},
        {L"a.b.c", L"a_a.b.c"},
        {L"noext", L"noext_a"},
        {L"..\\pic.png", L"..\\pic_a.png"},
        {L"C:\\set.v2\\pic.bmp", L"C:\\set.v2\\pic_a.bmp"},
        {L"set.v2/pic", L"set.v2/pic_a"},
        {L"dir\\.hidden", L"dir\\_a.hidden"},
        {L"", L"_a"},
    };
    for (const auto& [name, expected] : cases) {
        wchar_t out[64];
        ASSERT_EQ(MakeAlphaCompanionName(name, out, 64), 0);
        EXPECT_EQ(std::wstring(out), std::wstring(expected));
    }
    wchar_t small[9];
    EXPECT_EQ(MakeAlphaCompanionName(L"pic.png", small, 9), -1);  // needs 10 units
    wchar_t exact[10];
    EXPECT_EQ(MakeAlphaCompanionName(L"pic.png", exact, 10), 0);
}

#ifdef _WIN32
// A DIB: a header with room for 256 colours and top-down 24-bit rows, both the caller's;
// the image itself is not handed out.
TEST(LoadFrontWindows, HandsOutDibs)
{
    const Bytes bmp = SmallBmp(3, 2, 10);
    BITMAPINFO* header = nullptr;
    uint8_t* pixels = nullptr;
    Decoded untouched;
    const int32_t before = LiveBlocks();
    ASSERT_EQ(DecodeImageSource(nullptr, bmp.data(), int32_t(bmp.size()), 1, 1, 1, &untouched, &header, &pixels), 0);
    EXPECT_EQ(untouched.pixels, nullptr);
    EXPECT_EQ(header->bmiHeader.biWidth, 3);
    EXPECT_EQ(header->bmiHeader.biHeight, -2);
    EXPECT_EQ(header->bmiHeader.biBitCount, 24);
    EXPECT_EQ(pixels[0], 12);       // mirrored: (2, 0) first
    EXPECT_EQ(pixels[12 + 6], 26);  // second row: (0, 1)
    FreeTrackedMemory(header);
    FreeTrackedMemory(pixels);
    EXPECT_EQ(LiveBlocks(), before);
}
#else
// The native build has no DIBs: asking for one fails and keeps nothing.
TEST(LoadFrontNative, RefusesDibs)
{
    const Bytes bmp = SmallBmp(2, 2, 1);
    tagBITMAPINFO* header = nullptr;
    uint8_t* pixels = nullptr;
    const int32_t before = LiveBlocks();
    EXPECT_EQ(DecodeImageSource(nullptr, bmp.data(), int32_t(bmp.size()), 1, 1, 0, nullptr, &header, &pixels), -1);
    EXPECT_EQ(LiveBlocks(), before);
}
#endif

// ---- Held images ----

int32_t Hold(int width)
{
    BaseImage image{};
    EXPECT_EQ(AllocArgbBaseImage(width, 1, &image), 0);
    const int32_t handle = CreateBaseImageHandle(&image);
    EXPECT_EQ(image.pixels, nullptr);  // taken over
    return handle;
}

TEST(HeldImages, LiveBehindHandlesUntilDestroyed)
{
    DestroyAllBaseImageHandles();
    const int32_t before = LiveBlocks();
    int32_t h[4];
    for (int i = 0; i < 4; ++i) {
        h[i] = Hold(i + 1);
        ASSERT_GE(h[i], 0);
        EXPECT_EQ((h[i] & kHandleTypeBits) >> 27, 11);
        EXPECT_EQ(HandleSlotOf(h[i]), i);
        ASSERT_NE(FindHandleBaseImage(h[i]), nullptr);
        EXPECT_EQ(FindHandleBaseImage(h[i])->width, i + 1);
    }
    // Refused: destroyed twice, another type, another check number, negative.
    EXPECT_EQ(DestroyBaseImageHandle(h[1]), 0);
    EXPECT_EQ(DestroyBaseImageHandle(h[1]), -1);
    EXPECT_EQ(DestroyBaseImageHandle(MakeHandle(1, HandleCheckOf(h[2]), 2)), -1);
    EXPECT_EQ(DestroyBaseImageHandle(MakeHandle(11, (HandleCheckOf(h[2]) + 1) % 2048, 2)), -1);
    EXPECT_EQ(DestroyBaseImageHandle(-1), -1);
    EXPECT_EQ(FindHandleBaseImage(h[1]), nullptr);

    // The highest slot destroyed with the two below it empty: the next image takes slot 1.
    EXPECT_EQ(DestroyBaseImageHandle(h[2]), 0);
    EXPECT_EQ(DestroyBaseImageHandle(h[3]), 0);
    const int32_t next = Hold(9);
    EXPECT_EQ(HandleSlotOf(next), 1);

    EXPECT_EQ(EndBaseImageHandles(), 0);
    EXPECT_EQ(FindHandleBaseImage(h[0]), nullptr);
    EXPECT_EQ(FindHandleBaseImage(next), nullptr);
    EXPECT_EQ(LiveBlocks(), before);
}

}  // namespace
}  // namespace test

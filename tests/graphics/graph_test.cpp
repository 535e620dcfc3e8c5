#include <map>
#include <string>
#include <vector>

#include "quarn/core/files.h"
#include "quarn/graphics/d3d9/device_graph.h"

#include "graph_fixture.h"

namespace graph_test {
namespace {

// ---- Texture sizes

struct SplitCase {
    int32_t length, single, libraryLimit, deviceMax, screenWidth;
    std::vector<int32_t> sizes;
};

TEST(TextureSizes, SplitCoversTheLengthWithPowersOfTwo)
{
    const SplitCase cases[] = {
        {300, 0, 0, 2048, 640, {512}},          // below the screen width: one texture
        {300, 0, 0, 2048, 300, {256, 32, 16}},  // cut: 256, 32, 8, 8 and the two 8s merged
        {8, 0, 0, 2048, 640, {8}},
        {3, 0, 0, 2048, 640, {8}},
        {300, 1, 0, 256, 640, {256, 32, 16}},         // single, but 512 is over the device limit
        {300, 0, 256, 2048, 640, {256, 32, 16}},      // a library limit always cuts
        {5000, 0, 0, 2048, 640, {2048, 2048, 1024}},  // 392 left is over 3/4 of 512: one of 1024
        {1000, 1, 0, 2048, 640, {1024}},
        {9, 0, 0, 2048, 4, {16}},  // 8 and 8 merge
    };
    for (const SplitCase& c : cases) {
        const TextureSizeLimits limits{c.libraryLimit, c.deviceMax, c.screenWidth};
        int32_t sizes[kMaxTextureSizes] = {};
        const int32_t count = SplitIntoTextureSizes(c.length, c.single, &limits, sizes);
        EXPECT_EQ(std::vector<int32_t>(sizes, sizes + (count > 0 ? count : 0)), c.sizes)
            << "length " << c.length << " screen " << c.screenWidth;
    }
}

TEST(TextureSizes, FormatIndexFollowsTheRequest)
{
    struct Case {
        uint8_t alpha, renderTarget, alphaTest, bits, compression;
        int32_t index;
    } const cases[] = {
        {0, 0, 0, 16, 0, 0},  {0, 0, 0, 32, 0, 1},  {1, 0, 0, 16, 0, 2},  {1, 0, 1, 32, 0, 3},
        {0, 0, 1, 16, 0, 4},  {0, 0, 1, 32, 0, 5},  {0, 0, 0, 32, 1, 6},  {1, 1, 0, 32, 5, 10},
        {0, 1, 0, 16, 0, 11}, {0, 1, 0, 32, 0, 12}, {0, 1, 1, 16, 0, 13}, {1, 1, 0, 32, 0, 13},
    };
    for (const Case& c : cases) {
        TextureFormatRequest request{};
        request.alphaChannel = c.alpha;
        request.renderTarget = c.renderTarget;
        request.alphaTest = c.alphaTest;
        request.colorBits = c.bits;
        request.compression = c.compression;
        EXPECT_EQ(GetTextureFormatIndex(&request), c.index);
    }
}

TEST(TextureSizes, TilesCoverTheImageAndPiecesFollowTheRectangle)
{
    const TextureSizeLimits limits{0, 2048, 300};
    TextureTile tiles[16];
    // Columns 256, 32, 16; one row of 32 (20 is below the screen width).
    ASSERT_EQ(LayoutTextureTiles(300, 20, 0, 0, &limits, tiles, 16), 3);
    EXPECT_EQ(tiles[1].x, 256);
    EXPECT_EQ(tiles[2].x, 288);
    EXPECT_EQ(tiles[2].usedWidth, 12);
    EXPECT_EQ(tiles[2].usedHeight, 20);
    EXPECT_EQ(tiles[2].textureWidth, 16);
    EXPECT_EQ(tiles[2].textureHeight, 32);

    // A rectangle across the first seam gets one piece from each side.
    TexturePiece pieces[4];
    ASSERT_EQ(BuildTexturePieces(tiles, 3, 250, 5, 20, 10, pieces), 2);
    EXPECT_EQ(pieces[0].tile, &tiles[0]);
    EXPECT_EQ(pieces[0].destX, 0);
    EXPECT_EQ(pieces[0].srcX, 250);
    EXPECT_EQ(pieces[0].srcY, 5);
    EXPECT_EQ(pieces[0].width, 6);
    EXPECT_EQ(pieces[1].destX, 6);
    EXPECT_EQ(pieces[1].srcX, 0);
    EXPECT_EQ(pieces[1].width, 14);
    EXPECT_EQ(pieces[1].height, 10);
    EXPECT_FLOAT_EQ(pieces[0].corners[0].u, 250.0f / 256.0f);
    EXPECT_FLOAT_EQ(pieces[0].corners[3].u, 1.0f);
    EXPECT_FLOAT_EQ(pieces[0].corners[3].v, 15.0f / 32.0f);
    EXPECT_FLOAT_EQ(pieces[1].corners[3].x, 20.0f);
    EXPECT_FLOAT_EQ(pieces[1].corners[3].y, 10.0f);
    // The graph's diagonal runs from (0, 10) to (20, 0): only the bottom-right corner of the
    // second piece lies beyond it.
    EXPECT_EQ(pieces[1].diagonal[0], 1);
    EXPECT_EQ(pieces[1].diagonal[3], 0);

    // Square-only devices: 256 x 32 becomes eight squares, 16 x 32 two stacked ones.
    ASSERT_EQ(LayoutTextureTiles(300, 20, 0, 1, &limits, tiles, 16), 11);
    EXPECT_EQ(tiles[7].x, 224);
    EXPECT_EQ(tiles[7].textureWidth, 32);
    EXPECT_EQ(tiles[10].x, 288);
    EXPECT_EQ(tiles[10].y, 16);
    EXPECT_EQ(tiles[10].usedHeight, 4);
    EXPECT_EQ(LayoutTextureTiles(300, 20, 0, 1, &limits, tiles, 10), -1) << "capacity is kept";
}

// ---- Graph records

TEST_F(GraphTest, BlankGraphHasItsSizeAndAView)
{
    const int32_t graph = CreateBlankGraph(16, 8);
    ASSERT_GE(graph, 0);
    EXPECT_EQ(graph & kHandleTypeBits, kHandleTypeGraph << 27);
    int32_t w = 0;
    int32_t h = 0;
    EXPECT_EQ(QueryGraphSize(graph, &w, &h), 0);
    EXPECT_EQ(w, 16);
    EXPECT_EQ(h, 8);
    const GraphRecord* record = FindGraphRecord(graph);
    ASSERT_NE(record, nullptr);
    EXPECT_EQ(record->handle, graph);
    EXPECT_EQ(record->movie, -1);
    EXPECT_EQ(record->image->refCount, 1);
    EXPECT_EQ(record->image->format, 17);
    EXPECT_EQ(record->image->request.renderTarget, 1);
    EXPECT_EQ(SoftViewOf(record)->width, 16);
    EXPECT_EQ(SoftViewOf(record)->pixels, record->image->held.soft->memImg.pixels);

    EXPECT_EQ(QueryGraphSize(-2, &w, &h), 0);
    EXPECT_EQ(w, kScreenW);
    EXPECT_EQ(h, kScreenH);
    EXPECT_EQ(CreateBlankGraph(0, 8), -1);
}

TEST_F(GraphTest, BlankGraphsStartCleared)
{
    // Every kind a blank graph can take starts all 0, as a new texture does on the device.
    struct Case {
        int32_t bits, alpha;
    };
    for (const Case c : {Case{32, 0}, Case{32, 1}, Case{16, 0}, Case{16, 1}}) {
        g_newGraphSettings.colorBits = c.bits;
        g_newGraphSettings.alphaChannel = c.alpha;
        const int32_t graph = CreateBlankGraph(9, 5);
        ASSERT_GE(graph, 0);
        const MEMIMG& view = *SoftViewOf(FindGraphRecord(graph));
        const int32_t rowBytes = 9 * MemImgBytesPerPixel(view.store->kind, 0, view.store->alpha);
        for (int32_t y = 0; y < 5; ++y) {
            for (int32_t i = 0; i < rowBytes; ++i) {
                ASSERT_EQ(view.pixels[ptrdiff_t{view.store->pitch} * y + i], 0)
                    << c.bits << " bits, alpha " << c.alpha << ", byte " << i << " of line " << y;
            }
        }
        DestroyGraph(graph);
    }
}

TEST_F(GraphTest, SixteenBitAndAlphaGraphsPickTheirFormat)
{
    g_newGraphSettings.colorBits = 16;
    g_newGraphSettings.alphaChannel = 1;
    const int32_t graph = CreateBlankGraph(4, 4);
    ASSERT_GE(graph, 0);
    const GraphImage* image = FindGraphRecord(graph)->image;
    EXPECT_EQ(image->format, 16);
    EXPECT_EQ(image->held.soft->memImg.store->kind, kMemImgRgb565);
    EXPECT_EQ(image->held.soft->memImg.store->alpha, 1);
}

TEST_F(GraphTest, SubGraphsShareOneImageAndAreCutToItsEdges)
{
    const int32_t parent = CreateBlankGraph(64, 64);
    ASSERT_GE(parent, 0);
    const int32_t sub = CreateSubGraph(10, 10, 1000, 1000, parent);
    ASSERT_GE(sub, 0);
    int32_t w = 0;
    int32_t h = 0;
    QueryGraphSize(sub, &w, &h);
    EXPECT_EQ(w, 54);
    EXPECT_EQ(h, 54);
    // A sub-graph of a sub-graph lies in the same image, offset by both positions.
    const int32_t inner = CreateSubGraph(4, 2, 8, 8, sub);
    ASSERT_GE(inner, 0);
    const GraphRecord* p = FindGraphRecord(parent);
    const GraphRecord* s = FindGraphRecord(inner);
    EXPECT_EQ(s->image, p->image);
    EXPECT_EQ(p->image->refCount, 3);
    EXPECT_EQ(s->x, 14);
    EXPECT_EQ(s->y, 12);
    const int32_t pitch = p->image->held.soft->memImg.store->pitch;
    EXPECT_EQ(SoftViewOf(s)->pixels, SoftViewOf(p)->pixels + 12 * pitch + 14 * 4);

    const struct {
        int32_t x, y, w, h;
    } refused[] = {{64, 0, 4, 4}, {0, 64, 4, 4}, {-1, 0, 4, 4}, {0, 0, 0, 4}, {0, 0, 4, -2}};
    for (const auto& r : refused) {
        EXPECT_EQ(CreateSubGraph(r.x, r.y, r.w, r.h, parent), -1) << r.x << "," << r.y;
    }
    EXPECT_EQ(CreateSubGraph(0, 0, 4, 4, -1), -1);

    // While drawing is disabled nothing is made.
    g_drawSettings.drawingDisabled = 1;
    EXPECT_EQ(CreateSubGraph(0, 0, 4, 4, parent), 0);
    g_drawSettings.drawingDisabled = 0;
}

TEST_F(GraphTest, DestroyingKeepsASharedImageUntilTheLastGraph)
{
    const int32_t blocks = GetAllocatorTotals().blockCount;
    const int32_t parent = CreateBlankGraph(16, 16);
    const int32_t sub = CreateSubGraph(2, 2, 4, 4, parent);
    ASSERT_GE(sub, 0);
    GraphImage* image = FindGraphRecord(parent)->image;
    EXPECT_EQ(DestroyGraph(parent), 0);
    EXPECT_EQ(TestGraphHandle(parent), 0);
    ASSERT_EQ(TestGraphHandle(sub), 1);
    EXPECT_EQ(FindGraphRecord(sub)->image, image);
    EXPECT_EQ(image->refCount, 1);
    EXPECT_EQ(DestroyGraph(sub), 0);
    EXPECT_EQ(GetAllocatorTotals().blockCount, blocks) << "the last graph frees the image";
    EXPECT_EQ(DestroyGraph(sub), -1) << "a dead handle is refused";
}

TEST_F(GraphTest, BadHandlesAreRefused)
{
    const int32_t graph = CreateBlankGraph(4, 4);
    DestroyGraph(graph);
    const int32_t bad[] = {-1, -2, graph, MakeHandle(kHandleTypeFont, 0, 0), 0x7FFFFFFF};
    for (int32_t h : bad) {
        EXPECT_EQ(TestGraphHandle(h), 0);
        EXPECT_EQ(DestroyGraph(h), -1);
        EXPECT_EQ(AttachGraphLostFlag(h, nullptr), -1);
        EXPECT_EQ(KeepGraphFileName(h, L"a.png", -1), -1);
        EXPECT_EQ(PaintGraphColor(h, 1, 2, 3, 4), -1);
    }
    EXPECT_EQ(QueryGraphSize(graph, nullptr, nullptr), -1);
}

TEST_F(GraphTest, LostFlagReadsZeroUntilTheGraphIsDestroyed)
{
    const int32_t graph = CreateBlankGraph(4, 4);
    int32_t lost = 7;
    EXPECT_EQ(AttachGraphLostFlag(graph, &lost), 0);
    EXPECT_EQ(lost, 0);
    DestroyGraph(graph);
    EXPECT_EQ(lost, 1);
}

TEST_F(GraphTest, FileNamesAreSharedByCount)
{
    const int32_t graph = CreateBlankGraph(8, 8);
    ASSERT_EQ(KeepGraphFileName(graph, L"pic.png", -1), 0);
    const GraphFileName* name = FindGraphRecord(graph)->fileName;
    ASSERT_NE(name, nullptr);
    EXPECT_EQ(name->count, 1u);
    EXPECT_NE(std::wstring(name->path).find(L"pic.png"), std::wstring::npos);

    const int32_t sub = CreateSubGraph(1, 1, 2, 2, graph);
    EXPECT_EQ(FindGraphRecord(sub)->fileName, name);
    EXPECT_EQ(name->count, 2u);

    const int32_t other = CreateBlankGraph(2, 2);
    EXPECT_EQ(KeepGraphFileName(other, nullptr, graph), 0);
    EXPECT_EQ(name->count, 3u);
    // A bad source changes nothing.
    EXPECT_EQ(KeepGraphFileName(other, nullptr, 12345), -1);
    EXPECT_EQ(FindGraphRecord(other)->fileName, name);
    EXPECT_EQ(KeepGraphFileName(other, nullptr, -1), 0);
    EXPECT_EQ(FindGraphRecord(other)->fileName, nullptr);
    EXPECT_EQ(name->count, 2u);
    // Sharing its own name keeps it.
    EXPECT_EQ(KeepGraphFileName(graph, nullptr, graph), 0);
    EXPECT_EQ(FindGraphRecord(graph)->fileName, name);
    EXPECT_EQ(name->count, 2u);
}

TEST_F(GraphTest, PicturesLandInTheGraphAndMirroringLeavesTheCallersImage)
{
    BaseImage picture = CodedPicture(6, 4);
    const int32_t plain = ConvertBaseImageToGraph(&picture, nullptr, 0, 0, 0);
    const int32_t mirrored = ConvertBaseImageToGraph(&picture, nullptr, 0, 1, 1);
    ASSERT_GE(plain, 0);
    ASSERT_GE(mirrored, 0);
    EXPECT_EQ(ReadBaseImagePixelArgb(&picture, 0, 0) & 0xFFFFFF, Code(0, 0)) << "caller's image unchanged";
    const MEMIMG& a = *SoftViewOf(FindGraphRecord(plain));
    const MEMIMG& b = *SoftViewOf(FindGraphRecord(mirrored));
    for (int32_t y = 0; y < 4; ++y) {
        for (int32_t x = 0; x < 6; ++x) {
            EXPECT_EQ(Pixel(a, x, y), Code(x, y));
            EXPECT_EQ(Pixel(b, x, y), Code(5 - x, y));
        }
    }

    // Refill needs exactly the graph's size.
    BaseImage other = CodedPicture(6, 4, 2, 1);
    EXPECT_EQ(RefillGraphFromBaseImage(&other, nullptr, plain, 0, 0, 0), 0);
    EXPECT_EQ(Pixel(a, 2, 1), 0u);
    EXPECT_EQ(Pixel(a, 3, 1), Code(3, 1));
    BaseImage small = CodedPicture(5, 4);
    EXPECT_EQ(RefillGraphFromBaseImage(&small, nullptr, plain, 0, 0, 0), -1);
    EXPECT_EQ(RefillGraphFromBaseImage(&other, &small, plain, 0, 0, 0), -1);
    EXPECT_EQ(ConvertBaseImageToGraph(&picture, &small, 0, 0, 0), -1) << "alpha of another size";
    DiscardBaseImage(&other);
    DiscardBaseImage(&small);

    g_screenSettings.started = 0;
    EXPECT_EQ(ConvertBaseImageToGraph(&picture, nullptr, 0, 0, 0), -1);
    g_screenSettings.started = 1;
    DiscardBaseImage(&picture);
}

TEST_F(GraphTest, BlockCompressedPicturesAreExpandedIntoTheGraph)
{
    // One DXT1 block, red and blue end points, the two alternating along each row; a second
    // picture in DXT5 whose alpha block makes every pixel half transparent.
    const uint8_t dxt1[8] = {0x00, 0xF8, 0x1F, 0x00, 0x44, 0x44, 0x44, 0x44};
    const uint8_t dxt5[16] = {0x80, 0x80, 0, 0, 0, 0, 0, 0, 0x00, 0xF8, 0x1F, 0x00, 0x44, 0x44, 0x44, 0x44};
    struct Case {
        uint32_t kind;
        const uint8_t* blocks;
        size_t bytes;
        uint32_t alpha;
    };
    for (const Case& c : {Case{1, dxt1, sizeof dxt1, 255}, Case{5, dxt5, sizeof dxt5, 0x80}}) {
        BaseImage picture{};
        SetupArgb8888Format(&picture.format);
        picture.format.compression = c.kind;
        picture.width = 4;
        picture.height = 4;
        picture.pitch = 16;
        picture.pixels = static_cast<uint8_t*>(AllocTrackedMemory(static_cast<uint32_t>(c.bytes), "", 0));
        ASSERT_NE(picture.pixels, nullptr);
        std::memcpy(picture.pixels, c.blocks, c.bytes);

        const int32_t graph = ConvertBaseImageToGraph(&picture, nullptr, 0, 0, 0);
        ASSERT_GE(graph, 0) << "DXT" << c.kind;
        EXPECT_EQ(picture.format.compression, c.kind) << "the caller's picture keeps its blocks";
        const MEMIMG& view = *SoftViewOf(FindGraphRecord(graph));
        for (int32_t y = 0; y < 4; ++y) {
            for (int32_t x = 0; x < 4; ++x) {
                EXPECT_EQ(Pixel(view, x, y), x % 2 == 0 ? 0xFF0000u : 0x0000FFu) << x << "," << y;
                EXPECT_EQ(view.pixels[ptrdiff_t{view.store->pitch} * y + 4 * x + 3], c.alpha);
            }
        }
        DestroyGraph(graph);
        DiscardBaseImage(&picture);
    }
}

// A side that is not a multiple of 4 keeps its edge blocks whole: a 5 x 3 DXT1 picture holds
// two blocks, the second giving the last column; memory holding one block is refused.
TEST_F(GraphTest, BlockCompressedEdgesComeFromWholeBlocks)
{
    const uint8_t blocks[16] = {0x00, 0xF8, 0x1F, 0x00, 0,    0,    0,    0,      // all red
                                0x00, 0xF8, 0x1F, 0x00, 0x55, 0x55, 0x55, 0x55};  // all blue
    for (const uint32_t bytes : {16u, 8u}) {
        BaseImage picture{};
        SetupArgb8888Format(&picture.format);
        picture.format.compression = 1;
        picture.width = 5;
        picture.height = 3;
        picture.pixels = static_cast<uint8_t*>(AllocTrackedMemory(bytes, "", 0));
        ASSERT_NE(picture.pixels, nullptr);
        std::memcpy(picture.pixels, blocks, bytes);
        const int32_t graph = ConvertBaseImageToGraph(&picture, nullptr, 0, 0, 0);
        if (bytes == 8) {
            EXPECT_LT(graph, 0) << "one block for two";
        } else {
            ASSERT_GE(graph, 0);
            const MEMIMG& view = *SoftViewOf(FindGraphRecord(graph));
            for (int32_t y = 0; y < 3; ++y) {
                EXPECT_EQ(Pixel(view, 3, y), 0xFF0000u) << y;
                EXPECT_EQ(Pixel(view, 4, y), 0x0000FFu) << y;
            }
            DestroyGraph(graph);
        }
        DiscardBaseImage(&picture);
    }
}

TEST_F(GraphTest, RectTransferStaysInsideBothImages)
{
    const int32_t graph = CreateBlankGraph(8, 8);
    PaintGraphColor(graph, 0, 0, 0, 255);
    BaseImage picture = CodedPicture(4, 4);
    // The rectangle reaches past the picture and the destination past the graph.
    const PixelRect source{2, 2, 10, 10};
    EXPECT_EQ(TransferImageRectToGraph(&picture, nullptr, &source, 6, 7, graph, 3), 0);
    const GraphRecord* record = FindGraphRecord(graph);
    EXPECT_EQ(Pixel(*SoftViewOf(record), 6, 7), Code(2, 2));
    EXPECT_EQ(Pixel(*SoftViewOf(record), 7, 7), Code(3, 2));
    EXPECT_EQ(record->sourceX, -4);
    EXPECT_EQ(record->sourceY, -5);
    EXPECT_EQ(record->restoreFlag, 3);
    DiscardBaseImage(&picture);
}

// Image files held in memory and served through the library's file table, so that graphs
// restore through the real load front. A path names a file when it ends in the file's name
// (the graph keeps the full path); opens are counted per name.
std::map<std::wstring, std::vector<uint8_t>> s_fileBytes;
std::map<std::wstring, int> s_opens;

FileHandle OpenHeldFile(const wchar_t* path, int, int, int)
{
    const std::wstring full = path;
    for (const auto& [name, bytes] : s_fileBytes) {
        if (full.size() >= name.size() && full.compare(full.size() - name.size(), name.size(), name) == 0) {
            ++s_opens[name];
            return reinterpret_cast<FileHandle>(OpenMemoryStream(bytes.data(), uint32_t(bytes.size())));
        }
    }
    return 0;
}
int SetDirectoryNone(const wchar_t*) { return 0; }
int GetDirectoryNone(wchar_t* buffer)
{
    buffer[0] = 0;
    return 0;
}
intptr_t FindFirstNone(const wchar_t*, FileInfoRecord*) { return -1; }
int FindNextNone(intptr_t, FileInfoRecord*) { return -1; }
int FindCloseNone(intptr_t) { return -1; }

const FileFunctionTable kHeldFiles = {OpenHeldFile,     CloseMemoryStream,   TellMemoryStream,   SeekMemoryStream,
                                      ReadMemoryStream, IsMemoryStreamAtEnd, IsMemoryStreamIdle, SetDirectoryNone,
                                      GetDirectoryNone, FindFirstNone,       FindNextNone,       FindCloseNone};

// The library's raw "BGRA" file of a coded picture.
std::vector<uint8_t> CodedBgraFile(int32_t width, int32_t height)
{
    std::vector<uint8_t> b = {'B', 'G', 'R', 'A', 8, 8, 8, 8};
    for (uint32_t v : {uint32_t(width), uint32_t(height)}) {
        for (int i = 0; i < 4; ++i) b.push_back(uint8_t(v >> (8 * i)));
    }
    for (int32_t y = 0; y < height; ++y) {
        for (int32_t x = 0; x < width; ++x) {
            const uint32_t c = Code(x, y);
            b.insert(b.end(), {uint8_t(c), uint8_t(c >> 8), uint8_t(c >> 16), 255});
        }
    }
    return b;
}

class GraphFileTest : public GraphTest {
protected:
    void SetUp() override
    {
        GraphTest::SetUp();
        s_fileBytes = {{L"sheet.png", CodedBgraFile(8, 8)}};
        s_opens.clear();
        InstallFileFunctions(&kHeldFiles);
    }
    void TearDown() override
    {
        InstallFileFunctions(nullptr);
        GraphTest::TearDown();
    }
};

TEST_F(GraphFileTest, RestoreLoadsEachFileOnceForNeighbouringGraphs)
{
    BaseImage picture = CodedPicture(8, 8);
    const int32_t a = CreateBlankGraph(4, 4);
    const int32_t b = CreateBlankGraph(4, 4);
    const int32_t c = CreateBlankGraph(4, 4);
    ASSERT_EQ(TransferImageToGraph(&picture, L"sheet.png", nullptr, 0, 0, a, 0), 0);
    ASSERT_EQ(TransferImageToGraph(&picture, L"sheet.png", nullptr, 4, 2, b, 0), 0);
    ASSERT_EQ(TransferImageToGraph(&picture, L"missing.png", nullptr, 0, 0, c, 0), 0);
    DiscardBaseImage(&picture);
    for (int32_t h : {a, b, c}) {
        PaintGraphColor(h, 0, 0, 0, 0);
    }

    EXPECT_EQ(RunGraphRestore(), 0);
    EXPECT_EQ(s_opens[L"sheet.png"], 1) << "the two graphs of one file share a load";
    EXPECT_EQ(Pixel(*SoftViewOf(FindGraphRecord(a)), 1, 1), Code(1, 1));
    EXPECT_EQ(Pixel(*SoftViewOf(FindGraphRecord(b)), 0, 0), Code(4, 2)) << "restored at its offset";
    EXPECT_EQ(Pixel(*SoftViewOf(FindGraphRecord(c)), 0, 0), 0u) << "a failed load skips the graph";

    // An installed routine runs instead.
    static int routineRuns = 0;
    EXPECT_EQ(HasGraphRestoreHandler(), 0);
    InstallGraphRestoreHandler([]() -> int32_t { return ++routineRuns; });
    EXPECT_EQ(HasGraphRestoreHandler(), 1);
    RunGraphRestore();
    EXPECT_EQ(routineRuns, 1);
    EXPECT_EQ(s_opens[L"sheet.png"], 1);
    InstallGraphRestoreHandler(nullptr);
    EXPECT_EQ(HasGraphRestoreHandler(), 1) << "null installs the file restore";
}

TEST_F(GraphTest, RefillFromDataDecodesOrFails)
{
    const int32_t graph = CreateBlankGraph(8, 8);
    const std::vector<uint8_t> file = CodedBgraFile(8, 8);
    EXPECT_EQ(RefillGraphFromImageData(file.data(), int32_t(file.size()), graph, nullptr, 0, 0, 0), 0);
    EXPECT_EQ(Pixel(*SoftViewOf(FindGraphRecord(graph)), 3, 5), Code(3, 5));

    const char data[4] = {};
    EXPECT_EQ(RefillGraphFromImageData(data, 4, graph, nullptr, 0, 0, 0), -1) << "no decoder reads it";
    EXPECT_EQ(Pixel(*SoftViewOf(FindGraphRecord(graph)), 3, 5), Code(3, 5)) << "the graph keeps its pixels";
}

TEST_F(GraphTest, BlendGraphMustBeLiveAndLargeEnough)
{
    const int32_t big = CreateBlankGraph(8, 8);
    const int32_t wide = CreateBlankGraph(16, 4);
    const GraphRecord* bigRecord = FindGraphRecord(big);
    const GraphRecord* wideRecord = FindGraphRecord(wide);
    EXPECT_EQ(TestBlendGraphSize(bigRecord), -1) << "no blend graph selected";
    g_drawSettings.blendGraph = big;
    EXPECT_EQ(TestBlendGraphSize(bigRecord), 0);
    EXPECT_EQ(TestBlendGraphSize(wideRecord), 1);
    g_drawSettings.blendGraph = wide;
    EXPECT_EQ(TestBlendGraphSize(bigRecord), 1) << "lower than the graph";
    DestroyGraph(wide);
    EXPECT_EQ(TestBlendGraphSize(bigRecord), -1);
}

TEST_F(GraphTest, AGraphWhoseImageTheBackEndCannotMakeIsDestroyed)
{
    RenderBackend refusing = kSoftwareRenderBackend;
    refusing.makeImage = [](GraphRecord*, int32_t, int32_t, int32_t, int32_t, int32_t, int32_t) -> int32_t {
        return -1;
    };
    UseRenderBackend(&refusing);
    const int32_t live = GraphTable()->liveCount;
    EXPECT_EQ(CreateBlankGraph(8, 8), -1);
    EXPECT_EQ(GraphTable()->liveCount, live) << "the failed graph is destroyed";
    UseRenderBackend(&kSoftwareRenderBackend);
}

}  // namespace
}  // namespace graph_test

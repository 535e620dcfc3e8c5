// Masks on the software renderer: mask handles and their refusals, the mask screen's switch,
// and masked draws, which must land exactly where the unmasked draw would, but only where the
// mask lets them through.
#include <string>
#include <vector>

#include "graph_fixture.h"
#include "quarn/graphics/mask.h"

namespace graph_test {
namespace {

constexpr uint32_t kBackground = 0x123456;

class MaskTest : public GraphTest {
protected:
    void SetUp() override
    {
        GraphTest::SetUp();
        Fill(kBackground);
        g_drawSettings.maskDrawing = 1;
    }
    void TearDown() override
    {
        EndMaskScreen();
        RemoveAllMaskHandles();
        GraphTest::TearDown();
    }

    std::vector<uint32_t> Screen() const
    {
        std::vector<uint32_t> pixels;
        for (int32_t y = 0; y < kScreenH; ++y) {
            for (int32_t x = 0; x < kScreenW; ++x) {
                pixels.push_back(At(x, y));
            }
        }
        return pixels;
    }
};

TEST_F(MaskTest, SwitchingWithoutAMaskScreenIsRefusedAndChangesNothing)
{
    EXPECT_EQ(SwitchMaskDrawing(1), -1);
    EXPECT_EQ(SwitchMaskDrawing(0), -1);
    EXPECT_EQ(g_drawSettings.maskDrawing, 1);
    EXPECT_EQ(g_drawSettings.maskingActive, 0);
    EXPECT_EQ(g_drawSettings.softDrawTarget, &g_screenImages.primary);
    EXPECT_EQ(FillMaskScreenArea(nullptr, 1), -1);
    // A commit with no masking active writes nothing.
    const PixelRect all{0, 0, kScreenW, kScreenH};
    EXPECT_EQ(CommitMaskedDrawArea(&all), 0);
    EXPECT_EQ(At(3, 3), kBackground);
}

TEST_F(MaskTest, MaskHandlesAreRefusedUnlessLiveAndOfTheirType)
{
    const int32_t blocks = GetAllocatorTotals().blockCount;
    const int32_t kept = MakeMask(10, 3);
    const int32_t gone = MakeMask(4, 4);
    ASSERT_GE(kept, 0);
    ASSERT_GE(gone, 0);
    EXPECT_EQ(FindMaskRecord(kept)->pitch, 12);
    const int32_t goneSlot = HandleSlotOf(gone);
    ASSERT_EQ(RemoveMaskHandle(gone), 0);
    const int32_t check = HandleCheckOf(kept);
    const struct {
        int32_t handle;
        const char* what;
    } refused[] = {
        {gone, "removed"},
        {MakeHandle(kHandleTypeLight, check, HandleSlotOf(kept)), "another type"},
        {MakeHandle(kHandleTypeMask, check, kMaskCapacity), "slot 512"},
        {MakeHandle(kHandleTypeMask, check, goneSlot + 1), "a free slot"},
        {MakeHandle(kHandleTypeMask, (check + 1) % kHandleCheckLimit, HandleSlotOf(kept)), "a stale check number"},
        {-1, "negative"},
    };
    for (const auto& c : refused) {
        EXPECT_EQ(RemoveMaskHandle(c.handle), -1) << c.what;
    }
    EXPECT_EQ(MaskTable()->liveCount, 1) << "the live mask stays";
    EXPECT_EQ(MakeMask(0, 5), -1);
    EXPECT_EQ(MakeMask(5, -1), -1);
    MakeMask(2, 2);
    RemoveAllMaskHandles();
    EXPECT_EQ(MaskTable()->liveCount, 0);
    EXPECT_EQ(GetAllocatorTotals().blockCount, blocks) << "every mask's data is freed";
}

TEST_F(MaskTest, DrawingGoesToTheWorkImageWhileMaskingIsActive)
{
    g_drawSettings.maskDrawing = 0;
    ASSERT_EQ(CreateMaskScreen(), 0);
    EXPECT_EQ(g_drawSettings.maskingActive, 0) << "mask drawing not wanted";
    EXPECT_EQ(SwitchMaskDrawing(1), 0);
    EXPECT_EQ(g_drawSettings.maskingActive, 1);
    EXPECT_EQ(g_drawSettings.softDrawTarget, &g_maskScreen.work);
    EXPECT_EQ(IsMaskDrawingOn(), 1);
    EXPECT_EQ(SwitchMaskDrawing(0), 0);
    EXPECT_EQ(g_drawSettings.softDrawTarget, &g_screenImages.primary);
    EndMaskScreen();
    EXPECT_EQ(g_maskScreen.bits, nullptr);
    EXPECT_EQ(SwitchMaskDrawing(1), -1);
}

// Every draw shape under a mask that blocks a band, plain and reversed: where the mask lets
// the draw through the screen is what the same draw gives unmasked, elsewhere it is as before.
TEST_F(MaskTest, MaskedDrawsLandOnlyWhereTheMaskLetsThrough)
{
    const int32_t graph = CodedGraph(6, 5);
    const struct {
        const char* what;
        int (*draw)(int32_t graph);
    } draws[] = {
        {"at", [](int32_t g) { return DrawGraphAt(3, 4, g, 0); }},
        {"stretched", [](int32_t g) { return DrawGraphStretched(2, 1, 30, 20, g, 0); }},
        {"mirrored", [](int32_t g) { return DrawGraphStretched(29, 3, 1, 22, g, 0); }},
        {"four corners", [](int32_t g) { return DrawGraphFourCorners(4.5f, 2, 27, 3, 25, 21.5f, 1, 18, g, 0); }},
    };
    const PixelRect band{8, 0, 20, kScreenH};
    for (int32_t reverse = 0; reverse < 2; ++reverse) {
        for (const auto& d : draws) {
            SCOPED_TRACE(std::string(d.what) + (reverse ? " reversed" : ""));
            Fill(kBackground);
            ASSERT_EQ(d.draw(graph), 0);
            const std::vector<uint32_t> unmasked = Screen();

            Fill(kBackground);
            g_drawSettings.maskDrawing = 1;  // the end of the last mask screen switched it off
            ASSERT_EQ(CreateMaskScreen(), 0);
            ASSERT_EQ(g_drawSettings.maskingActive, 1);
            SetMaskReverse(reverse);
            ASSERT_EQ(FillMaskScreenArea(&band, 1), 0);
            ASSERT_EQ(d.draw(graph), 0);
            EndMaskScreen();
            const std::vector<uint32_t> masked = Screen();

            int32_t failures = 0;
            int32_t drawn = 0;
            for (int32_t y = 0; y < kScreenH; ++y) {
                for (int32_t x = 0; x < kScreenW; ++x) {
                    const size_t i = static_cast<size_t>(y * kScreenW + x);
                    const bool blocked = (x >= band.left && x < band.right) != (reverse == 1);
                    const uint32_t want = blocked ? kBackground : unmasked[i];
                    drawn += !blocked && unmasked[i] != kBackground ? 1 : 0;
                    if (masked[i] != want && failures++ < 4) {
                        ADD_FAILURE() << "(" << x << ", " << y << ") holds " << std::hex << masked[i] << ", expected "
                                      << want;
                    }
                }
            }
            EXPECT_GT(drawn, 0) << "the mask lets some of the draw through";
        }
    }
}

// A graph target larger than the screen: the mask covers the screen only, so a draw beyond it
// writes nothing back, and nothing outside the mask's bytes is read.
TEST_F(MaskTest, DrawsIntoAGraphBeyondTheMaskScreenWriteNothingBack)
{
    const int32_t canvas = CreateBlankGraph(kScreenW * 2, kScreenH * 2);
    const int32_t sprite = CodedGraph(4, 4);
    ASSERT_GE(canvas, 0);
    g_drawSettings.drawTarget = canvas;
    g_drawSettings.drawTargetWidth = kScreenW * 2;
    g_drawSettings.drawTargetHeight = kScreenH * 2;
    g_drawSettings.clip = PixelRect{0, 0, kScreenW * 2, kScreenH * 2};
    ASSERT_EQ(CreateMaskScreen(), 0);
    const MEMIMG& view = *SoftViewOf(FindGraphRecord(canvas));
    const uint32_t before = Pixel(view, 50, 40);
    EXPECT_EQ(DrawGraphAt(kScreenW + 10, kScreenH + 10, sprite, 0), 0);
    EXPECT_EQ(Pixel(view, kScreenW + 10, kScreenH + 10), before);
    EXPECT_EQ(DrawGraphAt(kScreenW - 2, kScreenH - 2, sprite, 0), 0);
    EXPECT_EQ(Pixel(view, kScreenW - 2, kScreenH - 2), Code(0, 0)) << "inside the mask screen it lands";
    EXPECT_EQ(Pixel(view, kScreenW, kScreenH), before) << "past its edge it does not";
    EndMaskScreen();
    DestroyGraph(canvas);
}

}  // namespace
}  // namespace graph_test

// Mask handles and the mask screen on both renderers.
#include "quarn/graphics/mask.h"

#include <cstring>

#include "quarn/graphics/graphics.h"
#include "quarn/graphics/render_backend.h"

MaskScreenState g_maskScreen{};

namespace {

FixedHandleTable<kMaskCapacity> s_maskTable(kHandleTypeMask, kSlotHighWaterFirst);
// The area kept inside the clip, the mask screen and the draw target: the mask's bytes and the
// work image cover the screen only, while a graph target may be larger.
PixelRect MaskedArea(const PixelRect* area)
{
    PixelRect r = *area;
    const PixelRect clip = g_drawSettings.clip;
    ClampRectInsideRect(&r, &clip);
    const PixelRect screen{0, 0, g_maskScreen.width, g_maskScreen.height};
    ClampRectInsideRect(&r, &screen);
    const PixelRect target{0, 0, g_drawSettings.drawTargetWidth, g_drawSettings.drawTargetHeight};
    ClampRectInsideRect(&r, &target);
    return r;
}

bool IsEmpty(const PixelRect& r) { return r.right <= r.left || r.bottom <= r.top; }

// Points drawing at the work image or surface while masking is active, else at the draw
// target itself.
int32_t PointDrawing()
{
    DrawSettings& s = g_drawSettings;
    if (s.maskingActive) {
        return CurrentRenderBackend()->targetMaskWork();
    }
    GraphDrawInfo info{};
    const bool graph = s.drawTarget >= 0 && DescribeGraph(s.drawTarget, &info) == 0;
    return CurrentRenderBackend()->selectTarget(s.drawTarget, graph ? &info : nullptr);
}

void FreeMask(int32_t handle)
{
    auto* record = static_cast<MaskRecord*>(RemoveHandleRecord(s_maskTable.get(), handle));
    if (record != nullptr) {
        FreeTrackedMemory(record->data);
        FreeTrackedMemory(record);
    }
}

}  // namespace

// ---- Mask handles

HandleTable* MaskTable() { return s_maskTable.get(); }

MaskRecord* FindMaskRecord(int32_t handle) { return FindHandleRecordAs<MaskRecord>(s_maskTable.get(), handle); }

int32_t MakeMask(int32_t width, int32_t height)
{
    if (width <= 0 || height <= 0 || width > 0x7FFF || height > 0x7FFF) {
        return AppendLog(L"マスクのサイズが不正です\n");
    }
    const int32_t pitch = (width + 3) & ~3;
    auto* record = static_cast<MaskRecord*>(AllocTrackedMemoryZeroed(sizeof(MaskRecord), "", 0));
    uint8_t* data = static_cast<uint8_t*>(
        AllocTrackedMemoryZeroed(static_cast<uint32_t>(pitch) * static_cast<uint32_t>(height), "", 0));
    const int32_t handle = record != nullptr && data != nullptr ? AddHandleRecord(s_maskTable.get(), record) : -1;
    if (handle < 0) {
        FreeTrackedMemory(data);
        FreeTrackedMemory(record);
        return AppendLog(L"マスクハンドルの作成に失敗しました\n");
    }
    *record = MaskRecord{HandleCheckOf(handle), data, width, height, pitch};
    return handle;
}

int32_t RemoveMaskHandle(int32_t handle)
{
    if (FindMaskRecord(handle) == nullptr) {
        return -1;
    }
    FreeMask(handle);
    return 0;
}

void RemoveAllMaskHandles()
{
    HandleTable* table = s_maskTable.get();
    for (int32_t slot = 0; slot < table->highWater; ++slot) {
        const int32_t handle = HandleOfSlot(table, slot);
        if (handle != -1) {
            FreeMask(handle);
        }
    }
}

// ---- The mask screen

int32_t IsMaskDrawingOn() { return g_drawSettings.maskDrawing; }

int32_t SwitchMaskDrawing(int32_t flag)
{
    if (g_maskScreen.bits == nullptr) {
        return -1;
    }
    DrawSettings& s = g_drawSettings;
    s.maskDrawing = flag;
    s.maskingActive = flag != 0 && g_maskScreen.exists ? 1 : 0;
    return PointDrawing() == 0 ? 0 : -1;
}

int32_t BuildMaskScreen(int32_t flag)
{
    if (flag == 0) {
        return 0;
    }
    MaskScreenState& m = g_maskScreen;
    if (m.bits == nullptr) {
        int32_t width = 0;
        int32_t height = 0;
        GetConfiguredScreenSize(&width, &height);
        const int32_t pitch = (width + 3) & ~3;
        m.bits = static_cast<uint8_t*>(
            AllocTrackedMemoryZeroed(static_cast<uint32_t>(pitch) * static_cast<uint32_t>(height), "", 0));
        if (m.bits == nullptr) {
            return AppendLog(L"マスクスクリーン用のメモリの確保に失敗しました\n");
        }
        m.width = width;
        m.height = height;
        m.pitch = pitch;
    }
    // On failure the renderer has written its line (or ended the program).
    return CurrentRenderBackend()->buildMask();
}

int32_t CreateMaskScreen()
{
    g_maskScreen.exists = 1;
    if (BuildMaskScreen(1) != 0) {
        ReleaseMaskScreen();
        g_maskScreen.exists = 0;
        return -1;
    }
    return g_drawSettings.maskDrawing ? SwitchMaskDrawing(1) : 0;
}

int32_t ReleaseMaskScreen()
{
    MaskScreenState& m = g_maskScreen;
    FreeTrackedMemory(m.bits);
    m.bits = nullptr;
    CurrentRenderBackend()->releaseMask();
    return 0;
}

int32_t RestoreMaskScreen()
{
    BuildMaskScreen(g_maskScreen.exists);
    if (g_maskScreen.exists && g_drawSettings.maskDrawing) {
        SwitchMaskDrawing(1);
    }
    return 0;
}

int32_t EndMaskScreen()
{
    if (g_drawSettings.maskDrawing) {
        SwitchMaskDrawing(0);
    }
    ReleaseMaskScreen();
    g_maskScreen.exists = 0;
    g_maskScreen.reverse = 0;
    g_drawSettings.maskingActive = 0;
    return 0;
}

int32_t SetMaskReverse(int32_t flag)
{
    g_maskScreen.reverse = flag != 0 ? 1 : 0;
    return 0;
}

int32_t FillMaskScreenArea(const PixelRect* area, uint8_t value)
{
    MaskScreenState& m = g_maskScreen;
    if (m.bits == nullptr || area == nullptr) {
        return -1;
    }
    PixelRect r = *area;
    const PixelRect screen{0, 0, m.width, m.height};
    ClampRectInsideRect(&r, &screen);
    if (IsEmpty(r)) {
        return 0;
    }
    for (int32_t y = r.top; y < r.bottom; ++y) {
        std::memset(m.bits + static_cast<ptrdiff_t>(y) * m.pitch + r.left, value,
                    static_cast<size_t>(r.right - r.left));
    }
    return CurrentRenderBackend()->uploadMask(&r);
}

void PrepareMaskedDrawArea(const PixelRect* area)
{
    if (!g_drawSettings.maskingActive || area == nullptr) {
        return;
    }
    const PixelRect r = MaskedArea(area);
    if (!IsEmpty(r)) {
        CurrentRenderBackend()->prepareMask(&r);
    }
}

int32_t CommitMaskedDrawArea(const PixelRect* area)
{
    if (area == nullptr) {
        return 0;
    }
    const PixelRect r = MaskedArea(area);
    if (IsEmpty(r) || !g_drawSettings.maskingActive) {
        return 0;
    }
    return CurrentRenderBackend()->commitMask(&r);
}

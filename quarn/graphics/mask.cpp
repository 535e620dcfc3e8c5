// Mask handles and the mask screen on both renderers.
#include "quarn/graphics/mask.h"

#include <cstring>

#include "quarn/graphics/d3d9/device_state.h"
#include "quarn/graphics/graphics.h"
#include "quarn/graphics/render_backend.h"


MaskScreenState g_maskScreen{};

namespace {

FixedHandleTable<kMaskCapacity> s_maskTable(kHandleTypeMask, kSlotHighWaterFirst);
const MaskDeviceCalls* s_maskDevice = nullptr;

bool OnDevice() { return g_screenSettings.hardwareActive && s_maskDevice != nullptr; }

// The image drawing lands in when no mask intervenes: the graph's own view, or the screen.
MEMIMG* SoftTargetImage()
{
    const int32_t target = g_drawSettings.drawTarget;
    if (target >= 0) {
        GraphDrawInfo info{};
        return DescribeGraph(target, &info) == 0 ? info.ownImage : nullptr;
    }
    return &g_screenImages.primary;
}

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
        if (OnDevice()) {
            FlushVertexBatch();
            // A new render target takes the device's viewport to its whole surface.
            const int32_t result = s_maskDevice->targetWork();
            CurrentRenderBackend()->applyClip();
            return result;
        }
        s.softDrawTarget = &g_maskScreen.work;
        return 0;
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

void UseMaskDeviceCalls(const MaskDeviceCalls* calls) { s_maskDevice = calls; }

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
    if (g_screenSettings.hardwareActive) {
        if (s_maskDevice == nullptr || s_maskDevice->build(m.width, m.height) != 0 ||
            s_maskDevice->upload(m.bits, m.pitch, nullptr) != 0) {
            return -1;  // the device half has written its line (or ended the program)
        }
        return 0;
    }
    if (!TestMemImgValid(&m.work)) {
        if (CreatePlainMemImg(&m.work, m.width, m.height, -1) != 0) {
            FatalErrorExit(L"マスク用 MEMIMG の作成に失敗しました");
        }
        m.workCreated = 1;
    }
    return 0;
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
    if (m.workCreated) {
        ReleaseMemImgRef(&m.work);
        m.workCreated = 0;
    }
    if (s_maskDevice != nullptr) {
        s_maskDevice->release();
    }
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
        std::memset(m.bits + static_cast<ptrdiff_t>(y) * m.pitch + r.left, value, static_cast<size_t>(r.right - r.left));
    }
    return OnDevice() ? s_maskDevice->upload(m.bits, m.pitch, &r) : 0;
}

void PrepareMaskedDrawArea(const PixelRect* area)
{
    if (!g_drawSettings.maskingActive || area == nullptr) {
        return;
    }
    const PixelRect r = MaskedArea(area);
    if (IsEmpty(r)) {
        return;
    }
    if (OnDevice()) {
        s_maskDevice->copyToWork(&r);
        return;
    }
    const MEMIMG* target = SoftTargetImage();
    if (target != nullptr && TestMemImgValid(&g_maskScreen.work)) {
        ConvertCopyMemImg(&g_maskScreen.work, target, &r, r.left, r.top);
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
    const MaskScreenState& m = g_maskScreen;
    if (OnDevice()) {
        return s_maskDevice->commit(&r, m.reverse) == 0 ? 0 : -1;
    }
    MEMIMG* target = SoftTargetImage();
    const MEMIMG& work = m.work;
    if (target == nullptr || !TestMemImgValid(&work) || target->store->format->bytesPerPixel !=
                                                            work.store->format->bytesPerPixel) {
        return 0;
    }
    const int32_t bytes = work.store->format->bytesPerPixel;
    const uint8_t pass = m.reverse ? 1 : 0;
    for (int32_t y = r.top; y < r.bottom; ++y) {
        const uint8_t* mask = m.bits + static_cast<ptrdiff_t>(y) * m.pitch;
        const uint8_t* from = work.pixels + static_cast<ptrdiff_t>(y) * work.store->pitch;
        uint8_t* to = target->pixels + static_cast<ptrdiff_t>(y) * target->store->pitch;
        for (int32_t x = r.left; x < r.right; ++x) {
            if ((mask[x] != 0 ? 1 : 0) == pass) {
                std::memcpy(to + static_cast<ptrdiff_t>(x) * bytes, from + static_cast<ptrdiff_t>(x) * bytes,
                            static_cast<size_t>(bytes));
            }
        }
    }
    return 0;
}

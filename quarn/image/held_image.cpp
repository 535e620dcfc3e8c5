// Held images: base images kept behind handles of type 11 until they are destroyed or the
// library shuts down.
#include <cstring>

#include "quarn/core/core.h"
#include "quarn/core/handle.h"
#include "quarn/image/image.h"

namespace {

constexpr int32_t kHeldImageSlots = 8192;
FixedHandleTable<kHeldImageSlots> s_heldImages(kHandleTypeHeldImage, kSlotHighWaterFirst);

}  // namespace

int32_t CreateBaseImageHandle(BaseImage* image)
{
    if (!image) return -1;
    auto* record = static_cast<BaseImage*>(AllocTrackedMemory(sizeof(BaseImage), "", 0));
    if (!record) return -1;
    std::memcpy(static_cast<void*>(record), image, sizeof *image);
    const int32_t handle = AddHandleRecord(s_heldImages.get(), record);
    if (handle < 0) {
        FreeTrackedMemory(record);
        return -1;
    }
    std::memset(static_cast<void*>(image), 0, sizeof *image);
    return handle;
}

BaseImage* FindHandleBaseImage(int32_t handle) { return FindHandleRecordAs<BaseImage>(s_heldImages.get(), handle); }

int DestroyBaseImageHandle(int32_t handle)
{
    auto* record = static_cast<BaseImage*>(RemoveHandleRecord(s_heldImages.get(), handle));
    if (!record) return -1;
    DiscardBaseImage(record);
    FreeTrackedMemory(record);
    return 0;
}

int DestroyAllBaseImageHandles()
{
    for (int32_t slot = 0; slot < s_heldImages->highWater; ++slot) {
        const int32_t handle = HandleOfSlot(s_heldImages.get(), slot);
        if (handle >= 0) DestroyBaseImageHandle(handle);
    }
    return 0;
}

int EndBaseImageHandles() { return DestroyAllBaseImageHandles(); }

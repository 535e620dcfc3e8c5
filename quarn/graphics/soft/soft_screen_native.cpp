// The software screen in the native build: no display to switch and no window to present to,
// and no device, so the software renderer is the build's only back end.
#if !defined(_WIN32)

#include "quarn/graphics/render_backend.h"

int32_t StartSoftwareScreen() { return 0; }
int32_t PresentSoftwareScreen(const PresentRequest*) { return 0; }

const RenderBackend* const kRenderBackendOrder[] = {
    &kSoftwareRenderBackend,
};
const int32_t kRenderBackendCount = sizeof(kRenderBackendOrder) / sizeof(kRenderBackendOrder[0]);

#endif

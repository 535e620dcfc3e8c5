// The software screen in the native build: no display to switch and no window to present to.
#if !defined(_WIN32)

#include "quarn/graphics/render_backend.h"

int32_t StartSoftwareScreen() { return 0; }
int32_t PresentSoftwareScreen(const PresentRequest*) { return 0; }

#endif

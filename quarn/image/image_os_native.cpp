// The native build has no system that draws DIBs. The Windows build uses image_os_win.cpp.
#if !defined(_WIN32)

#include "quarn/image/image_os.h"

int DrawDibThroughSystem(const uint8_t*, const uint8_t*, int, int, uint8_t*, int) { return -1; }

int ExportBaseImageAsDib(const BaseImage*, tagBITMAPINFO*, uint8_t**) { return -1; }

#endif

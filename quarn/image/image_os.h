// The image subsystem's few operating-system calls, kept narrow so that everything else in
// it builds and is tested natively. image_os_win.cpp makes them through GDI; the native
// build has no such system and reports each as not available (-1).
#pragma once

#include <cstdint>

#include "quarn/image/image.h"

// Draws a device-independent bitmap that the portable BMP decoder does not read into
// 24-bit top-down pixels. info holds the BITMAPINFO bytes (header, masks and colour table,
// zero-padded to room for 256 colours), bits the pixel data. The rows go to dst, dstPitch
// bytes apart (at least width x 3). 0 / -1, with the failure's log line.
int DrawDibThroughSystem(const uint8_t* info, const uint8_t* bits, int width, int height, uint8_t* dst, int dstPitch);

// BaseImageToDib with its results; -1 where the build has no DIBs.
int ExportBaseImageAsDib(const BaseImage* image, tagBITMAPINFO* header, uint8_t** outPixels);

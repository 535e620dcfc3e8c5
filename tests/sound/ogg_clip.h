// Small Ogg Theora clips made in the test with libtheora's encoder, and libtheora's own decode
// of them converted to 32-bit pixels by a slow floating-point BT.601 reference: what the
// library's decoder is held to.
#pragma once

#include <ogg/ogg.h>

#include <cstdint>
#include <functional>
#include <vector>

struct ClipShape {
    int width = 64;  // the picture; the coded frame is it and its offset rounded up to 16
    int height = 48;
    int pictureX = 0;  // the picture's offset in the coded frame (from the top)
    int pictureY = 0;
    int frames = 12;
    uint32_t fpsNumerator = 25;
    uint32_t fpsDenominator = 1;
};

// The clip's bytes: a moving colour pattern, different in every frame.
std::vector<uint8_t> EncodeTheoraClip(const ClipShape& shape);

// Every frame of the clip as libtheora decodes it, its picture cut out of the coded frame, each
// width x height pixels of blue, green, red, 255 (bytes), converted from its Y'CbCr by the
// reference.
std::vector<std::vector<uint8_t>> ReferenceFrames(const std::vector<uint8_t>& clip);

// Hands every packet of the clip's (single) logical stream to take, in order, as Ogg reads it.
void ForEachClipPacket(const std::vector<uint8_t>& clip, const std::function<void(ogg_packet&)>& take);

// Appends the page's header and body to out.
void AppendPage(std::vector<uint8_t>* out, const ogg_page& page);

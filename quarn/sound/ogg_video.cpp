// The Ogg video decoder: a Theora stream read from memory through libogg, decoded by libtheora
// up to the frame the movie asks for and converted to 32-bit pixels through the BT.601 tables;
// and the interface the movie handles use (close, skip, information, current frame).
#include <cstring>

#include "quarn/core/core.h"
#include "quarn/sound/movie.h"
#include "quarn/sound/movie_os.h"

#if QUARN_HAVE_SSE2
#include <emmintrin.h>
#endif

uint8_t g_yuvClampTable[1280];
int32_t g_yuvRows[5][256];

namespace {

constexpr int32_t kClampBias = 512;  // g_yuvClampTable[kClampBias + v] clamps v
constexpr uint32_t kFeedBytes = 4096;
constexpr int kHeaderPackets = 3;

// The next page of the memory block, fed to the sync layer as it is needed. False at the end.
bool NextPage(ogg_sync_state* sync, const uint8_t* bytes, uint32_t size, uint32_t* offset, ogg_page* page)
{
    for (;;) {
        const int got = ogg_sync_pageout(sync, page);
        if (got == 1) {
            return true;
        }
        if (got < 0) {
            continue;  // bytes skipped to find the next page
        }
        if (*offset >= size) {
            return false;
        }
        const uint32_t count = size - *offset < kFeedBytes ? size - *offset : kFeedBytes;
        char* buffer = ogg_sync_buffer(sync, static_cast<long>(count));
        if (buffer == nullptr) {
            return false;
        }
        std::memcpy(buffer, bytes + *offset, count);
        ogg_sync_wrote(sync, static_cast<long>(count));
        *offset += count;
    }
}

// The next packet of the stream, taking in pages of its serial number only. False at the end.
bool NextPacket(ogg_sync_state* sync, ogg_stream_state* stream, const uint8_t* bytes, uint32_t size, uint32_t* offset,
                ogg_packet* packet)
{
    for (;;) {
        const int got = ogg_stream_packetout(stream, packet);
        if (got == 1) {
            return true;
        }
        if (got < 0) {
            continue;  // a gap in the data; the packets after it still count
        }
        ogg_page page;
        if (!NextPage(sync, bytes, size, offset, &page)) {
            return false;
        }
        ogg_stream_pagein(stream, &page);  // pages of other streams are refused here
    }
}

bool NextVideoPacket(OggVideoDecoder* d, ogg_packet* packet)
{
    return NextPacket(&d->sync, &d->stream, d->workBuffers[0], d->dataSize, &d->readOffset, packet);
}

// The frames of the stream: its packets after the three headers, counted on a reader of its own.
int64_t CountFrames(const OggVideoDecoder* d)
{
    ogg_sync_state sync;
    ogg_stream_state stream;
    ogg_sync_init(&sync);
    ogg_stream_init(&stream, d->serial);
    uint32_t offset = 0;
    int64_t packets = 0;
    ogg_packet packet;
    while (NextPacket(&sync, &stream, d->workBuffers[0], d->dataSize, &offset, &packet)) {
        ++packets;
    }
    ogg_stream_clear(&stream);
    ogg_sync_clear(&sync);
    return packets > kHeaderPackets ? packets - kHeaderPackets : 0;
}

// Finds the first stream whose first packet is a Theora header and reads its three headers.
bool ReadHeaders(OggVideoDecoder* d)
{
    ogg_page page;
    bool found = false;
    while (!found && NextPage(&d->sync, d->workBuffers[0], d->dataSize, &d->readOffset, &page)) {
        if (ogg_page_bos(&page) == 0) {
            continue;
        }
        ogg_stream_init(&d->stream, ogg_page_serialno(&page));
        ogg_stream_pagein(&d->stream, &page);
        ogg_packet packet;
        if (ogg_stream_packetout(&d->stream, &packet) == 1 &&
            theora_decode_header(&d->info, &d->comment, &packet) >= 0) {
            d->serial = ogg_page_serialno(&page);
            found = true;
        } else {
            ogg_stream_clear(&d->stream);
        }
    }
    if (!found) {
        return false;
    }
    for (int header = 1; header < kHeaderPackets; ++header) {
        ogg_packet packet;
        if (!NextVideoPacket(d, &packet) || theora_decode_header(&d->info, &d->comment, &packet) < 0) {
            return false;
        }
    }
    return true;
}

// Back to the first frame: the reader starts again after the headers, and the decoder starts
// afresh as it did at opening, so that a first frame that is not a key frame is predicted
// from the same nothing as then, not from the last frame before the wrap.
bool Rewind(OggVideoDecoder* d)
{
    ogg_sync_reset(&d->sync);
    ogg_stream_reset(&d->stream);
    d->readOffset = 0;
    d->decodedFrame = -1;
    d->pictureMade = 0;
    ogg_packet packet;
    for (int header = 0; header < kHeaderPackets && NextVideoPacket(d, &packet); ++header) {
    }
    theora_clear(&d->theora);
    if (theora_decode_init(&d->theora, &d->info) != 0) {
        d->theoraStarted = 0;
        AppendLog(L"Ogg Theora のデコーダを用意できません\n");
        return false;
    }
    return true;
}

// The picture's place in the coded frame, which libtheora pads to whole 16 x 16 blocks:
// its size and offset, and the chroma rows and columns of 4:2:0 that cover it.
struct PictureArea {
    int32_t x, y, width, height;
    int32_t chromaX, chromaY, chromaWidth, chromaHeight;
};

PictureArea PictureOf(const theora_info& info)
{
    PictureArea a{};
    a.x = static_cast<int32_t>(info.offset_x);
    a.y = static_cast<int32_t>(info.offset_y);
    a.width = static_cast<int32_t>(info.frame_width);
    a.height = static_cast<int32_t>(info.frame_height);
    a.chromaX = a.x / 2;
    a.chromaY = a.y / 2;
    a.chromaWidth = (a.x + a.width - 1) / 2 - a.chromaX + 1;
    a.chromaHeight = (a.y + a.height - 1) / 2 - a.chromaY + 1;
    return a;
}

// A picture of at least one pixel inside the coded frame.
bool PictureFits(const theora_info& info)
{
    return info.frame_width > 0 && info.frame_height > 0 && info.offset_x <= info.width &&
           info.offset_y <= info.height && info.frame_width <= info.width - info.offset_x &&
           info.frame_height <= info.height - info.offset_y;
}

bool AllocFrameSlot(OggVideoDecoder* d)
{
    const PictureArea area = PictureOf(d->info);
    d->frameSlots = static_cast<OggVideoFrameSlot*>(
        AllocTrackedMemoryZeroed(sizeof(OggVideoFrameSlot), __FILE__, __LINE__));
    if (d->frameSlots == nullptr) {
        return false;
    }
    d->frameSlotCount = 1;
    OggVideoFrameSlot& slot = d->frameSlots[0];
    slot.frame = -1;
    slot.widths[0] = slot.strides[0] = area.width;
    slot.heights[0] = area.height;
    slot.widths[1] = slot.strides[1] = area.chromaWidth;
    slot.heights[1] = area.chromaHeight;
    for (int plane = 0; plane < 3; ++plane) {
        const int kind = plane == 0 ? 0 : 1;
        slot.planes[plane] = static_cast<uint8_t*>(
            AllocTrackedMemory(static_cast<uint32_t>(slot.strides[kind] * slot.heights[kind]), __FILE__, __LINE__));
        if (slot.planes[plane] == nullptr) {
            return false;
        }
    }
    return AllocXrgbBaseImage(area.width, area.height, &d->frameImage) == 0;
}

// Copies the picture out of the decoder's coded frame into the slot: the luma of the
// picture and the chroma rows and columns that cover it. The decoder's strides may be
// negative (rows upward).
void CopyPicture(const yuv_buffer& yuv, const PictureArea& area, OggVideoFrameSlot* slot)
{
    const uint8_t* from[3] = {yuv.y + static_cast<ptrdiff_t>(area.y) * yuv.y_stride + area.x,
                              yuv.u + static_cast<ptrdiff_t>(area.chromaY) * yuv.uv_stride + area.chromaX,
                              yuv.v + static_cast<ptrdiff_t>(area.chromaY) * yuv.uv_stride + area.chromaX};
    for (int plane = 0; plane < 3; ++plane) {
        const int kind = plane == 0 ? 0 : 1;
        const int32_t stride = plane == 0 ? yuv.y_stride : yuv.uv_stride;
        for (int32_t row = 0; row < slot->heights[kind]; ++row) {
            std::memcpy(slot->planes[plane] + static_cast<ptrdiff_t>(row) * slot->strides[kind],
                        from[plane] + static_cast<ptrdiff_t>(row) * stride, static_cast<size_t>(slot->widths[kind]));
        }
    }
}

}  // namespace

int32_t BuildYuvToRgbTables()
{
    for (int32_t v = -kClampBias; v < 1280 - kClampBias; ++v) {
        g_yuvClampTable[v + kClampBias] = static_cast<uint8_t>(v < 0 ? 0 : (v > 255 ? 255 : v));
    }
    // Each row is a start value and a constant step: the factor x 16384 per component step.
    const int32_t starts[5] = {-3346944, 819968, 1704960, -4231936, -305120};
    const int32_t steps[5] = {26148, -6406, -13320, 33062, 19070};
    for (int row = 0; row < 5; ++row) {
        int32_t value = starts[row];
        for (int i = 0; i < 256; ++i) {
            g_yuvRows[row][i] = value;
            value += steps[row];
        }
    }
    return 0;
}

namespace {

// One row whose first pixel sits on the first sample of its chroma pair: pixels x and x + 1
// (x even) share chroma x / 2.
void ConvertRowPlain(const uint8_t* y, const uint8_t* cb, const uint8_t* cr, int32_t width, uint8_t* pixel)
{
    const uint8_t* clamp = g_yuvClampTable + kClampBias;
    const int32_t* redCr = g_yuvRows[0];
    const int32_t* greenCb = g_yuvRows[1];
    const int32_t* greenCr = g_yuvRows[2];
    const int32_t* blueCb = g_yuvRows[3];
    const int32_t* luma = g_yuvRows[4];
    constexpr int32_t kHalf = 1 << 13;  // rounds the 14 fraction bits
    for (int32_t x = 0; x < width; ++x, pixel += 4) {
        const int32_t l = luma[y[x]] + kHalf;
        const int32_t u = cb[x / 2];
        const int32_t v = cr[x / 2];
        pixel[0] = clamp[(l + blueCb[u]) >> 14];
        pixel[1] = clamp[(l + greenCb[u] + greenCr[v]) >> 14];
        pixel[2] = clamp[(l + redCr[v]) >> 14];
        pixel[3] = 255;
    }
}

#if QUARN_HAVE_SSE2
// Two pixels' 32-bit sums from one chroma term each: lanes 0-3 of term go to pixels 0-7.
QUARN_SSE2_FN inline __m128i ChannelLow(__m128i luma, __m128i term)
{
    return _mm_srai_epi32(_mm_add_epi32(luma, _mm_unpacklo_epi32(term, term)), 14);
}
QUARN_SSE2_FN inline __m128i ChannelHigh(__m128i luma, __m128i term)
{
    return _mm_srai_epi32(_mm_add_epi32(luma, _mm_unpackhi_epi32(term, term)), 14);
}

// The same row, sixteen pixels at a time, in the tables' own arithmetic: each row of the tables
// is its factor x (component - offset) in 14 fraction bits, so pairs of 16-bit values times
// pairs of factors (pmaddwd) give the sums the plain form adds up from the tables, exactly
// (33062, which does not fit 16 bits, is 16531 twice; 26148 is 13074 twice). The chroma
// terms are formed once for the two pixels of a pair. The arithmetic shift and the two
// saturating packs do what the clamp table does for every sum these factors can make (-277
// to 534). The last pixels that do not fill sixteen go through the plain form.
QUARN_SSE2_ENTRY void ConvertRowSse2(const uint8_t* y, const uint8_t* cb, const uint8_t* cr, int32_t width,
                                     uint8_t* pixel)
{
    const __m128i zero = _mm_setzero_si128();
    const __m128i lumaOffset = _mm_set1_epi16(16);
    const __m128i chromaOffset = _mm_set1_epi16(128);
    const __m128i one = _mm_set1_epi16(1);
    const __m128i lumaFactors = _mm_set1_epi32((8192 << 16) | 19070);   // (y - 16, 1): the luma row and the rounding
    const __m128i blueFactors = _mm_set1_epi32((16531 << 16) | 16531);  // (u, u)
    const __m128i greenFactors = _mm_set1_epi32(static_cast<int32_t>(
        (static_cast<uint32_t>(-13320) << 16) | (static_cast<uint32_t>(-6406) & 0xFFFF)));  // (u, v)
    const __m128i redFactors = _mm_set1_epi32((13074 << 16) | 13074);                       // (v, v)
    const __m128i alpha = _mm_set1_epi8(static_cast<char>(255));
    int32_t x = 0;
    for (; x + 16 <= width; x += 16) {
        const __m128i lumaBytes = _mm_loadu_si128(reinterpret_cast<const __m128i*>(y + x));
        const __m128i u = _mm_sub_epi16(_mm_unpacklo_epi8(_mm_loadl_epi64(reinterpret_cast<const __m128i*>(cb + x / 2)),
                                                          zero),
                                        chromaOffset);
        const __m128i v = _mm_sub_epi16(_mm_unpacklo_epi8(_mm_loadl_epi64(reinterpret_cast<const __m128i*>(cr + x / 2)),
                                                          zero),
                                        chromaOffset);
        __m128i blue[2];
        __m128i green[2];
        __m128i red[2];
        for (int half = 0; half < 2; ++half) {  // pixels 0-7 with chroma 0-3, then 8-15 with 4-7
            const __m128i luma = _mm_sub_epi16(half == 0 ? _mm_unpacklo_epi8(lumaBytes, zero)
                                                         : _mm_unpackhi_epi8(lumaBytes, zero),
                                               lumaOffset);
            const __m128i lumaLow = _mm_madd_epi16(_mm_unpacklo_epi16(luma, one), lumaFactors);
            const __m128i lumaHigh = _mm_madd_epi16(_mm_unpackhi_epi16(luma, one), lumaFactors);
            const __m128i uu = half == 0 ? _mm_unpacklo_epi16(u, u) : _mm_unpackhi_epi16(u, u);
            const __m128i uv = half == 0 ? _mm_unpacklo_epi16(u, v) : _mm_unpackhi_epi16(u, v);
            const __m128i vv = half == 0 ? _mm_unpacklo_epi16(v, v) : _mm_unpackhi_epi16(v, v);
            const __m128i blueTerm = _mm_madd_epi16(uu, blueFactors);
            const __m128i greenTerm = _mm_madd_epi16(uv, greenFactors);
            const __m128i redTerm = _mm_madd_epi16(vv, redFactors);
            blue[half] = _mm_packs_epi32(ChannelLow(lumaLow, blueTerm), ChannelHigh(lumaHigh, blueTerm));
            green[half] = _mm_packs_epi32(ChannelLow(lumaLow, greenTerm), ChannelHigh(lumaHigh, greenTerm));
            red[half] = _mm_packs_epi32(ChannelLow(lumaLow, redTerm), ChannelHigh(lumaHigh, redTerm));
        }
        // Sixteen bytes of each channel, then b g b g ... and r 255 r 255 ..., then whole pixels.
        const __m128i blueBytes = _mm_packus_epi16(blue[0], blue[1]);
        const __m128i greenBytes = _mm_packus_epi16(green[0], green[1]);
        const __m128i redBytes = _mm_packus_epi16(red[0], red[1]);
        const __m128i blueGreen[2] = {_mm_unpacklo_epi8(blueBytes, greenBytes),
                                      _mm_unpackhi_epi8(blueBytes, greenBytes)};
        const __m128i redAlpha[2] = {_mm_unpacklo_epi8(redBytes, alpha), _mm_unpackhi_epi8(redBytes, alpha)};
        auto* to = reinterpret_cast<__m128i*>(pixel + 4 * x);
        for (int half = 0; half < 2; ++half) {
            _mm_storeu_si128(to + 2 * half, _mm_unpacklo_epi16(blueGreen[half], redAlpha[half]));
            _mm_storeu_si128(to + 2 * half + 1, _mm_unpackhi_epi16(blueGreen[half], redAlpha[half]));
        }
    }
    ConvertRowPlain(y + x, cb + x / 2, cr + x / 2, width - x, pixel + 4 * x);
}
#endif

// The row form the processor runs.
void ConvertRow(const uint8_t* y, const uint8_t* cb, const uint8_t* cr, int32_t width, uint8_t* pixel)
{
#if QUARN_HAVE_SSE2
    if (IsSse2Usable() != 0) {
        ConvertRowSse2(y, cb, cr, width, pixel);
        return;
    }
#endif
    ConvertRowPlain(y, cb, cr, width, pixel);
}

}  // namespace

void ConvertYuv420ToXrgb(const uint8_t* y, int32_t yStride, const uint8_t* cb, const uint8_t* cr, int32_t chromaStride,
                         int32_t chromaX, int32_t chromaY, int32_t width, int32_t height, uint8_t* out,
                         int32_t outPitch)
{
    for (int32_t row = 0; row < height; ++row) {
        const uint8_t* yRow = y + static_cast<ptrdiff_t>(row) * yStride;
        const ptrdiff_t chromaRow = static_cast<ptrdiff_t>((row + chromaY) / 2) * chromaStride;
        const uint8_t* cbRow = cb + chromaRow;
        const uint8_t* crRow = cr + chromaRow;
        uint8_t* pixel = out + static_cast<ptrdiff_t>(row) * outPitch;
        int32_t x = 0;
        if (chromaX != 0 && width > 0) {
            // The first pixel is the second of its pair; the rest start pairs of their own.
            ConvertRowPlain(yRow, cbRow, crRow, 1, pixel);
            x = 1;
            ++cbRow;
            ++crRow;
        }
        ConvertRow(yRow + x, cbRow, crRow, width - x, pixel + 4 * x);
    }
}

OggVideoDecoder* OpenOggVideoDecoder(const uint8_t* bytes, uint32_t size)
{
    if (bytes == nullptr || size == 0) {
        AppendLog(L"Ogg 動画のデータがありません\n");
        return nullptr;
    }
    auto* d = static_cast<OggVideoDecoder*>(AllocTrackedMemoryZeroed(sizeof(OggVideoDecoder), __FILE__, __LINE__));
    if (d == nullptr) {
        return nullptr;
    }
    d->workBuffers[0] = static_cast<uint8_t*>(AllocTrackedMemory(size, __FILE__, __LINE__));
    if (d->workBuffers[0] == nullptr) {
        CloseOggVideoDecoder(d);
        return nullptr;
    }
    std::memcpy(d->workBuffers[0], bytes, size);
    d->dataSize = size;
    d->decodedFrame = -1;
    ogg_sync_init(&d->sync);
    theora_info_init(&d->info);
    theora_comment_init(&d->comment);
    if (!ReadHeaders(d)) {
        AppendLog(L"Ogg Theora のヘッダが読めません\n");
        CloseOggVideoDecoder(d);
        return nullptr;
    }
    const int32_t side = static_cast<int32_t>(d->info.width > d->info.height ? d->info.width : d->info.height);
    constexpr auto kMaxSide = static_cast<ogg_uint32_t>(kOggVideoMaxSide);
    if (d->info.width == 0 || d->info.height == 0 || d->info.width > kMaxSide || d->info.height > kMaxSide ||
        d->info.pixelformat != OC_PF_420 || !PictureFits(d->info)) {
        AppendLogFormat(L"対応していない Ogg Theora の画像です (%d)\n", side);
        CloseOggVideoDecoder(d);
        return nullptr;
    }
    if (theora_decode_init(&d->theora, &d->info) != 0 || !AllocFrameSlot(d)) {
        AppendLog(L"Ogg Theora のデコーダを用意できません\n");
        CloseOggVideoDecoder(d);
        return nullptr;
    }
    d->theoraStarted = 1;
    d->frameCount = CountFrames(d);
    return d;
}

int32_t DecodeOggVideoFrame(OggVideoDecoder* d)
{
    const int32_t target = d->currentFrame;
    if (d->theoraStarted == 0 || target < 0 || target >= d->frameCount) {
        return -1;
    }
    if (d->decodedFrame > target && !Rewind(d)) {
        return -1;
    }
    while (d->decodedFrame < target) {
        ogg_packet packet;
        if (!NextVideoPacket(d, &packet)) {
            return -1;
        }
        // A packet the decoder refuses leaves the picture as it was; it still takes its frame.
        if (theora_decode_packetin(&d->theora, &packet) == 0 && packet.bytes > 0) {
            d->pictureMade = 1;
        }
        ++d->decodedFrame;
    }
    // Until a picture was decoded libtheora's output names no buffer (an empty packet only
    // repeats the frame before it).
    yuv_buffer yuv;
    if (d->pictureMade == 0 || theora_decode_YUVout(&d->theora, &yuv) < 0) {
        return -1;
    }
    OggVideoFrameSlot& slot = d->frameSlots[0];
    const PictureArea area = PictureOf(d->info);
    // The decoder's frame is the coded size its headers gave, which holds the picture.
    if (yuv.y_width < area.x + area.width || yuv.y_height < area.y + area.height ||
        yuv.uv_width < area.chromaX + area.chromaWidth || yuv.uv_height < area.chromaY + area.chromaHeight) {
        return -1;
    }
    CopyPicture(yuv, area, &slot);
    slot.frame = target;
    d->readyFlags[0] = 1;
    ConvertYuv420ToXrgb(slot.planes[0], slot.strides[0], slot.planes[1], slot.planes[2], slot.strides[1], area.x & 1,
                        area.y & 1, d->frameImage.width, d->frameImage.height, d->frameImage.pixels,
                        d->frameImage.pitch);
    d->readyFlags[1] = 1;
    return 0;
}

int32_t CloseOggVideoDecoder(OggVideoDecoder* d)
{
    const MovieOsApi* os = CurrentMovieOsApi();
    if (d->thread != nullptr) {
        d->stopFlag = 1;
        while (d->state != 3) {
            os->sleep(1);
        }
        os->closeHandle(d->thread);
        d->thread = nullptr;
    }
    if (d->frameSlots != nullptr) {
        for (int32_t i = 0; i < d->frameSlotCount; ++i) {
            for (uint8_t*& plane : d->frameSlots[i].planes) {
                FreeTrackedMemory(plane);
                plane = nullptr;
            }
        }
        FreeTrackedMemory(d->frameSlots);
        d->frameSlots = nullptr;
    }
    if (d->comObject != nullptr) {
        os->release(d->comObject);
        d->comObject = nullptr;
    }
    for (uint8_t*& buffer : d->workBuffers) {
        FreeTrackedMemory(buffer);
        buffer = nullptr;
    }
    DiscardBaseImage(&d->frameImage);
    ogg_stream_clear(&d->stream);
    theora_clear(&d->theora);
    theora_comment_clear(&d->comment);
    theora_info_clear(&d->info);
    ogg_sync_clear(&d->sync);
    FreeTrackedMemory(d);
    return 0;
}

int32_t SkipOggVideoFrames(OggVideoDecoder* d, int32_t n)
{
    if (n < 1) {
        return 0;
    }
    int64_t frame = static_cast<int64_t>(d->currentFrame) + n;
    if (frame >= d->frameCount) {
        frame -= d->frameCount;
    }
    d->currentFrame = static_cast<int32_t>(frame);
    d->readyFlags[0] = 0;
    d->readyFlags[1] = 0;
    return 0;
}

int32_t GetOggVideoInfo(OggVideoDecoder* d, OggVideoInfo* info)
{
    info->framesPerSecond = static_cast<double>(static_cast<uint32_t>(d->info.fps_numerator)) /
                            static_cast<double>(static_cast<uint32_t>(d->info.fps_denominator));
    info->frameCount = static_cast<int32_t>(static_cast<uint32_t>(d->frameCount));
    info->width = static_cast<int32_t>(d->info.frame_width);
    info->height = static_cast<int32_t>(d->info.frame_height);
    return 0;
}

int32_t GetOggVideoFrame(OggVideoDecoder* d) { return d->currentFrame; }

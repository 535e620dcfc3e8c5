#include "tests/sound/ogg_clip.h"

#include <ogg/ogg.h>
#include <theora/theoradec.h>
#include <theora/theoraenc.h>

#include <cmath>
#include <cstring>
#include <stdexcept>

namespace {

uint8_t ReferenceChannel(double value)
{
    const double rounded = std::floor(value + 0.5);
    return static_cast<uint8_t>(rounded < 0 ? 0 : (rounded > 255 ? 255 : rounded));
}

}  // namespace

void AppendPage(std::vector<uint8_t>* out, const ogg_page& page)
{
    out->insert(out->end(), page.header, page.header + page.header_len);
    out->insert(out->end(), page.body, page.body + page.body_len);
}

void ForEachClipPacket(const std::vector<uint8_t>& clip, const std::function<void(ogg_packet&)>& take)
{
    ogg_sync_state sync;
    ogg_sync_init(&sync);
    char* buffer = ogg_sync_buffer(&sync, static_cast<long>(clip.size()));
    std::memcpy(buffer, clip.data(), clip.size());
    ogg_sync_wrote(&sync, static_cast<long>(clip.size()));
    ogg_stream_state stream;
    bool streamStarted = false;
    ogg_page page;
    while (ogg_sync_pageout(&sync, &page) == 1) {
        if (!streamStarted) {
            ogg_stream_init(&stream, ogg_page_serialno(&page));
            streamStarted = true;
        }
        ogg_stream_pagein(&stream, &page);
        ogg_packet packet;
        while (ogg_stream_packetout(&stream, &packet) == 1) {
            take(packet);
        }
    }
    if (streamStarted) {
        ogg_stream_clear(&stream);
    }
    ogg_sync_clear(&sync);
}

std::vector<uint8_t> EncodeTheoraClip(const ClipShape& shape)
{
    th_info info;
    th_info_init(&info);
    const int frameWidth = (shape.pictureX + shape.width + 15) / 16 * 16;
    const int frameHeight = (shape.pictureY + shape.height + 15) / 16 * 16;
    info.frame_width = static_cast<ogg_uint32_t>(frameWidth);
    info.frame_height = static_cast<ogg_uint32_t>(frameHeight);
    info.pic_width = static_cast<ogg_uint32_t>(shape.width);
    info.pic_height = static_cast<ogg_uint32_t>(shape.height);
    info.pic_x = static_cast<ogg_uint32_t>(shape.pictureX);
    info.pic_y = static_cast<ogg_uint32_t>(shape.pictureY);
    info.fps_numerator = shape.fpsNumerator;
    info.fps_denominator = shape.fpsDenominator;
    info.pixel_fmt = TH_PF_420;
    info.colorspace = TH_CS_UNSPECIFIED;
    info.quality = 48;
    info.keyframe_granule_shift = 3;  // a key frame at least every 8 frames
    th_enc_ctx* encoder = th_encode_alloc(&info);
    th_info_clear(&info);
    if (encoder == nullptr) {
        throw std::runtime_error("th_encode_alloc");
    }
    ogg_stream_state stream;
    ogg_stream_init(&stream, 0x51C0);
    std::vector<uint8_t> out;
    ogg_page page;
    ogg_packet packet;
    th_comment comment;
    th_comment_init(&comment);
    bool first = true;
    while (th_encode_flushheader(encoder, &comment, &packet) > 0) {
        ogg_stream_packetin(&stream, &packet);
        if (first) {
            // The identification header has a page of its own.
            while (ogg_stream_flush(&stream, &page) != 0) {
                AppendPage(&out, page);
            }
            first = false;
        }
    }
    while (ogg_stream_flush(&stream, &page) != 0) {
        AppendPage(&out, page);
    }
    th_comment_clear(&comment);

    // The whole coded frame carries the pattern, so that a picture cut from the wrong place shows.
    const int cw = frameWidth / 2;
    const int ch = frameHeight / 2;
    std::vector<uint8_t> y(static_cast<size_t>(frameWidth * frameHeight));
    std::vector<uint8_t> cb(static_cast<size_t>(cw * ch));
    std::vector<uint8_t> cr(cb.size());
    for (int f = 0; f < shape.frames; ++f) {
        for (int row = 0; row < frameHeight; ++row) {
            for (int x = 0; x < frameWidth; ++x) {
                y[static_cast<size_t>(row * frameWidth + x)] = static_cast<uint8_t>(16 +
                                                                                    ((x * 3 + row * 2 + f * 11) % 220));
            }
        }
        for (int row = 0; row < ch; ++row) {
            for (int x = 0; x < cw; ++x) {
                cb[static_cast<size_t>(row * cw + x)] = static_cast<uint8_t>(40 + ((x * 5 + f * 17) % 180));
                cr[static_cast<size_t>(row * cw + x)] = static_cast<uint8_t>(200 - ((row * 6 + f * 13) % 170));
            }
        }
        th_ycbcr_buffer buffer;
        buffer[0] = {frameWidth, frameHeight, frameWidth, y.data()};
        buffer[1] = {cw, ch, cw, cb.data()};
        buffer[2] = {cw, ch, cw, cr.data()};
        if (th_encode_ycbcr_in(encoder, buffer) != 0) {
            throw std::runtime_error("th_encode_ycbcr_in");
        }
        while (th_encode_packetout(encoder, f == shape.frames - 1, &packet) > 0) {
            ogg_stream_packetin(&stream, &packet);
        }
        // A page per frame, so that a cut clip keeps the frames before the cut.
        while (ogg_stream_flush(&stream, &page) != 0) {
            AppendPage(&out, page);
        }
    }
    while (ogg_stream_flush(&stream, &page) != 0) {
        AppendPage(&out, page);
    }
    ogg_stream_clear(&stream);
    th_encode_free(encoder);
    return out;
}

std::vector<std::vector<uint8_t>> ReferenceFrames(const std::vector<uint8_t>& clip)
{
    th_info info;
    th_comment comment;
    th_setup_info* setup = nullptr;
    th_dec_ctx* decoder = nullptr;
    th_info_init(&info);
    th_comment_init(&comment);
    std::vector<std::vector<uint8_t>> frames;
    int headers = 0;
    ForEachClipPacket(clip, [&](ogg_packet& packet) {
        if (headers < 3) {
            if (th_decode_headerin(&info, &comment, &setup, &packet) < 0) {
                throw std::runtime_error("th_decode_headerin");
            }
            if (++headers == 3) {
                decoder = th_decode_alloc(&info, setup);
            }
            return;
        }
        th_decode_packetin(decoder, &packet, nullptr);
        th_ycbcr_buffer yuv;
        th_decode_ycbcr_out(decoder, yuv);
        const int width = static_cast<int>(info.pic_width);
        const int height = static_cast<int>(info.pic_height);
        const int left = static_cast<int>(info.pic_x);
        const int top = static_cast<int>(info.pic_y);
        std::vector<uint8_t> pixels(static_cast<size_t>(width * height * 4));
        for (int row = 0; row < height; ++row) {
            for (int x = 0; x < width; ++x) {
                const int fx = left + x;
                const int fy = top + row;
                const double l = 1.164 * (yuv[0].data[fy * yuv[0].stride + fx] - 16);
                const double u = yuv[1].data[(fy / 2) * yuv[1].stride + fx / 2] - 128;
                const double v = yuv[2].data[(fy / 2) * yuv[2].stride + fx / 2] - 128;
                uint8_t* p = &pixels[static_cast<size_t>((row * width + x) * 4)];
                p[0] = ReferenceChannel(l + 2.018 * u);
                p[1] = ReferenceChannel(l - 0.391 * u - 0.813 * v);
                p[2] = ReferenceChannel(l + 1.596 * v);
                p[3] = 255;
            }
        }
        frames.push_back(std::move(pixels));
    });
    th_decode_free(decoder);
    th_setup_free(setup);
    th_comment_clear(&comment);
    th_info_clear(&info);
    return frames;
}

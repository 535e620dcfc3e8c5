// Ogg Vorbis files made in the tests and benchmarks with the encoder (a sine tone whose
// right channel is the left one inverted, so that a decoder that swaps or drops a channel
// shows it), and a straight decode of them to hold the converter to.
#pragma once

#include <vorbis/vorbisenc.h>
#include <vorbis/vorbisfile.h>

#include <cmath>
#include <cstdint>
#include <cstring>
#include <vector>

// frames sample frames of a 440 Hz tone at half strength; empty when the encoder refuses
// the format.
inline std::vector<uint8_t> EncodeVorbisTone(int channels, int rate, int frames, float quality)
{
    std::vector<uint8_t> out;
    vorbis_info info;
    vorbis_info_init(&info);
    if (vorbis_encode_init_vbr(&info, channels, rate, quality) != 0) {
        vorbis_info_clear(&info);
        return out;
    }
    vorbis_comment comment;
    vorbis_comment_init(&comment);
    vorbis_dsp_state dsp;
    vorbis_block block;
    vorbis_analysis_init(&dsp, &info);
    vorbis_block_init(&dsp, &block);
    ogg_stream_state stream;
    ogg_stream_init(&stream, 7);
    auto pages = [&](bool flush) {
        ogg_page page;
        while ((flush ? ogg_stream_flush(&stream, &page) : ogg_stream_pageout(&stream, &page)) != 0) {
            out.insert(out.end(), page.header, page.header + page.header_len);
            out.insert(out.end(), page.body, page.body + page.body_len);
        }
    };
    ogg_packet header, headerComment, headerCode;
    vorbis_analysis_headerout(&dsp, &comment, &header, &headerComment, &headerCode);
    ogg_stream_packetin(&stream, &header);
    ogg_stream_packetin(&stream, &headerComment);
    ogg_stream_packetin(&stream, &headerCode);
    pages(true);
    for (int at = 0;;) {
        const int count = frames - at < 1024 ? frames - at : 1024;
        if (count > 0) {
            float** buffer = vorbis_analysis_buffer(&dsp, count);
            for (int i = 0; i < count; ++i) {
                const float v = 0.5f * std::sin(2.0f * 3.14159265f * 440.0f * static_cast<float>(at + i) /
                                                static_cast<float>(rate));
                buffer[0][i] = v;
                if (channels > 1) {
                    buffer[1][i] = -v;
                }
            }
        }
        vorbis_analysis_wrote(&dsp, count);  // 0 marks the end
        while (vorbis_analysis_blockout(&dsp, &block) == 1) {
            vorbis_analysis(&block, nullptr);
            vorbis_bitrate_addblock(&block);
            ogg_packet packet;
            while (vorbis_bitrate_flushpacket(&dsp, &packet) != 0) {
                ogg_stream_packetin(&stream, &packet);
                pages(false);
            }
        }
        if (count == 0) {
            break;
        }
        at += count;
    }
    pages(true);
    ogg_stream_clear(&stream);
    vorbis_block_clear(&block);
    vorbis_dsp_clear(&dsp);
    vorbis_comment_clear(&comment);
    vorbis_info_clear(&info);
    return out;
}

struct VorbisByteSource {
    const std::vector<uint8_t>* bytes;
    size_t at;
};

// vorbisfile's callbacks over a VorbisByteSource: the bytes as a seekable file.
inline ov_callbacks VorbisByteCallbacks()
{
    ov_callbacks callbacks{};
    callbacks.read_func = [](void* to, size_t size, size_t n, void* from) -> size_t {
        auto* s = static_cast<VorbisByteSource*>(from);
        size_t want = size * n;
        const size_t left = s->bytes->size() - s->at;
        want = want < left ? want : left;
        std::memcpy(to, s->bytes->data() + s->at, want);
        s->at += want;
        return size == 0 ? 0 : want / size;
    };
    callbacks.seek_func = [](void* from, ogg_int64_t offset, int origin) -> int {
        auto* s = static_cast<VorbisByteSource*>(from);
        const int64_t base = origin == SEEK_SET   ? 0
                             : origin == SEEK_CUR ? static_cast<int64_t>(s->at)
                                                  : static_cast<int64_t>(s->bytes->size());
        const int64_t at = base + offset;
        if (at < 0 || at > static_cast<int64_t>(s->bytes->size())) {
            return -1;
        }
        s->at = static_cast<size_t>(at);
        return 0;
    };
    callbacks.tell_func = [](void* from) -> long {
        return static_cast<long>(static_cast<VorbisByteSource*>(from)->at);
    };
    return callbacks;
}

// A straight decode of the bytes: ov_read from the given frame (0: no seek) until count bytes, the end or
// the first error; empty when they do not open.
inline std::vector<uint8_t> StraightVorbisDecode(const std::vector<uint8_t>& bytes, int64_t frame, size_t count)
{
    VorbisByteSource source{&bytes, 0};
    OggVorbis_File file;
    std::vector<uint8_t> out;
    if (ov_open_callbacks(&source, &file, nullptr, 0, VorbisByteCallbacks()) != 0) {
        return out;
    }
    // A file opened is read from its start as it stands: on damaged data a seek to frame 0
    // may find pages that a fresh read does not.
    if (frame != 0) {
        ov_pcm_seek(&file, frame);
    }
    char chunk[4096];
    int bitStream = 0;
    while (out.size() < count) {
        const long got = ov_read(&file, chunk, sizeof chunk, 0, 2, 1, &bitStream);
        if (got <= 0) {
            break;
        }
        out.insert(out.end(), chunk, chunk + got);
    }
    out.resize(out.size() < count ? out.size() : count);
    ov_clear(&file);
    return out;
}

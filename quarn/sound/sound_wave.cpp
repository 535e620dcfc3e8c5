// Opening a WAVE stream as a plain-PCM converter: the RIFF chunks are walked to the format
// and the data; anything that does not hold together is refused.
#include "quarn/core/byte_order.h"
#include "quarn/sound/sound_stream.h"

namespace {

bool ReadExactly(const StreamFunctionTable* s, StreamHandle h, void* to, uint32_t count)
{
    return s->read(to, 1, count, h) == static_cast<int32_t>(count);
}

bool SameTag(const uint8_t* at, const char* tag)
{
    return at[0] == static_cast<uint8_t>(tag[0]) && at[1] == static_cast<uint8_t>(tag[1]) &&
           at[2] == static_cast<uint8_t>(tag[2]) && at[3] == static_cast<uint8_t>(tag[3]);
}

int32_t Refuse()
{
    AppendLog(L"WAVE ファイルの形式が不正です\n");
    return -1;
}

}  // namespace

int32_t ParseWaveHeader(const StreamFunctionTable* s, StreamHandle h, WaveHeaderInfo* info)
{
    *info = WaveHeaderInfo{};
    uint8_t riff[12];
    const int32_t start = s->tell(h);
    if (start < 0 || !ReadExactly(s, h, riff, 12) || !SameTag(riff, "RIFF") || !SameTag(riff + 8, "WAVE")) {
        return Refuse();
    }
    bool haveFormat = false;
    // Every chunk header moves the read on by at least 8 bytes; the walk ends with the stream.
    for (;;) {
        uint8_t chunk[8];
        if (!ReadExactly(s, h, chunk, 8)) {
            return Refuse();
        }
        const uint32_t size = ReadLe32(chunk + 4);
        const int32_t body = s->tell(h);
        if (body < 0 || size > 0x7FFFFFFFu - static_cast<uint32_t>(body)) {
            return Refuse();
        }
        if (SameTag(chunk, "fmt ")) {
            if (size < 16) {
                return Refuse();
            }
            uint8_t f[18] = {};
            if (!ReadExactly(s, h, f, size < 18 ? size : 18)) {
                return Refuse();
            }
            info->format.formatTag = ReadLe16(f);
            info->format.channels = ReadLe16(f + 2);
            info->format.samplesPerSecond = ReadLe32(f + 4);
            info->format.averageBytesPerSecond = ReadLe32(f + 8);
            info->format.blockAlign = ReadLe16(f + 12);
            info->format.bitsPerSample = ReadLe16(f + 14);
            info->format.extraSize = size >= 18 ? ReadLe16(f + 16) : 0;
            if (info->format.channels == 0 || info->format.blockAlign == 0 || info->format.samplesPerSecond == 0) {
                return Refuse();
            }
            info->formatStart = body;
            info->formatBytes = size;
            haveFormat = true;
        } else if (SameTag(chunk, "data")) {
            if (!haveFormat) {
                return Refuse();
            }
            info->dataStart = body;
            info->dataSize = static_cast<int32_t>(size);
            return 0;
        }
        // Chunks are padded to an even size.
        const uint32_t next = size + (size & 1);
        if (next > 0x7FFFFFFFu - static_cast<uint32_t>(body) || s->seek(h, body + static_cast<int32_t>(next), 0) != 0 ||
            s->tell(h) != body + static_cast<int32_t>(next)) {
            return Refuse();
        }
    }
}

int32_t OpenWaveConverter(SoundConverter* c, int32_t workSize)
{
    WaveHeaderInfo info;
    if (workSize <= 0 || ParseWaveHeader(&c->stream, c->streamHandle, &info) != 0) {
        return -1;
    }
    const WaveFormat& f = info.format;
    if (f.formatTag != 1) {
        return OpenAcmConverter(c, info.formatStart, info.formatBytes, info.dataSize, workSize);
    }
    const uint32_t frameBytes = static_cast<uint32_t>(f.channels) * (f.bitsPerSample / 8u);
    // Plain PCM of 8 or 16 bits whose block align is one frame.
    if ((f.bitsPerSample != 8 && f.bitsPerSample != 16) || f.blockAlign != frameBytes) {
        AppendLog(L"対応していない WAVE フォーマットです\n");
        return -1;
    }
    // The work buffer is refilled in whole frames, so it holds at least one.
    if (workSize < f.blockAlign) {
        workSize = f.blockAlign;
    }
    c->work = static_cast<uint8_t*>(
        AllocTrackedMemory(static_cast<uint32_t>(workSize), __FILE__, static_cast<uint16_t>(__LINE__)));
    if (c->work == nullptr) {
        AppendLog(L"WAVE データ用のメモリの確保に失敗しました\n");
        return -1;
    }
    c->kind = kConvertPcmStream;
    c->output = f;
    c->output.averageBytesPerSecond = f.samplesPerSecond * f.blockAlign;
    c->output.extraSize = 0;
    c->dataStart = info.dataStart;
    // Whole frames only.
    c->dataSize = info.dataSize / f.blockAlign * f.blockAlign;
    c->workSize = workSize;
    c->workLeft = 0;
    c->workOffset = 0;
    c->position = 0;
    c->ended = 0;
    c->inUse = 1;
    return 0;
}

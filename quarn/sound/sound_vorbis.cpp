// The Ogg Vorbis kind of converter: vorbisfile decodes through callbacks over the library's
// stream table.
#include <vorbis/vorbisfile.h>

#include "quarn/sound/sound_stream.h"

namespace {

OggVorbis_File* FileOf(SoundConverter* c) { return static_cast<OggVorbis_File*>(c->vorbisFile); }

size_t ReadCallback(void* buffer, size_t size, size_t count, void* source)
{
    auto* c = static_cast<SoundConverter*>(source);
    if (size == 0 || count == 0) {
        return 0;
    }
    // Byte reads, so that a short last piece of the stream is not lost.
    const uint64_t bytes = static_cast<uint64_t>(size) * count;
    const uint32_t asked = bytes > 0x7FFFFFFF ? 0x7FFFFFFF : static_cast<uint32_t>(bytes);
    const int32_t got = c->stream.read(buffer, 1, asked, c->streamHandle);
    return got > 0 ? static_cast<size_t>(got) / size : 0;
}

int SeekCallback(void* source, ogg_int64_t offset, int origin)
{
    auto* c = static_cast<SoundConverter*>(source);
    if (offset < INT32_MIN || offset > INT32_MAX) {
        return -1;
    }
    return c->stream.seek(c->streamHandle, static_cast<int32_t>(offset), origin) != 0 ? -1 : 0;
}

long TellCallback(void* source)
{
    auto* c = static_cast<SoundConverter*>(source);
    return c->stream.tell(c->streamHandle);
}

}  // namespace

// ov_read hands out whole frames only: a work buffer must hold one frame of the widest
// output (stereo, 16-bit), or its refill would fail every time and the data never start.
constexpr int32_t kLeastVorbisWork = 4;

int32_t OpenVorbisConverter(SoundConverter* c, int32_t workSize)
{
    if (c->stream.read == nullptr || c->stream.seek == nullptr || c->stream.tell == nullptr ||
        workSize < kLeastVorbisWork) {
        AppendLog(L"Ogg Vorbis ファイルを開けませんでした\n");
        return -1;
    }
    auto* file = static_cast<OggVorbis_File*>(
        AllocTrackedMemoryZeroed(sizeof(OggVorbis_File), __FILE__, static_cast<uint16_t>(__LINE__)));
    c->work = static_cast<uint8_t*>(
        AllocTrackedMemory(static_cast<uint32_t>(workSize), __FILE__, static_cast<uint16_t>(__LINE__)));
    if (file == nullptr || c->work == nullptr) {
        FreeTrackedMemory(file);
        FreeTrackedMemory(c->work);
        c->work = nullptr;
        AppendLog(L"Ogg Vorbis ファイルを開けませんでした\n");
        return -1;
    }
    const ov_callbacks callbacks = {ReadCallback, SeekCallback, nullptr, TellCallback};
    if (ov_open_callbacks(c, file, nullptr, 0, callbacks) != 0) {
        FreeTrackedMemory(file);
        FreeTrackedMemory(c->work);
        c->work = nullptr;
        AppendLog(L"Ogg Vorbis ファイルを開けませんでした\n");
        return -1;
    }
    const vorbis_info* info = ov_info(file, -1);
    if (info == nullptr || info->channels < 1 || info->channels > 2 || info->rate <= 0 || info->rate > 192000) {
        ov_clear(file);
        FreeTrackedMemory(file);
        FreeTrackedMemory(c->work);
        c->work = nullptr;
        AppendLog(L"Ogg Vorbis ファイルの形式に対応していません\n");
        return -1;
    }
    c->kind = kConvertVorbis;
    c->vorbisFile = file;
    c->vorbisOpen = 1;
    c->sampleWordSize = 2;
    c->output.formatTag = 1;
    c->output.channels = static_cast<uint16_t>(info->channels);
    c->output.samplesPerSecond = static_cast<uint32_t>(info->rate);
    c->output.bitsPerSample = 16;
    c->output.blockAlign = static_cast<uint16_t>(2 * info->channels);
    c->output.averageBytesPerSecond = c->output.samplesPerSecond * c->output.blockAlign;
    c->output.extraSize = 0;
    c->workSize = workSize;
    c->workLeft = 0;
    c->workOffset = 0;
    c->position = 0;
    c->ended = 0;
    c->inUse = 1;
    return 0;
}

int32_t ReadVorbisPcm(SoundConverter* c)
{
    if (c->vorbisOpen != 1) {
        return -1;
    }
    int bitStream = 0;
    const int word = c->sampleWordSize == 1 ? 1 : 2;
    // A hole in the data gives a negative result: it is no byte count, and the read goes on
    // with the next piece; a stream that keeps failing counts as ended.
    for (int attempt = 0; attempt < 8; ++attempt) {
        const long got = ov_read(FileOf(c), reinterpret_cast<char*>(c->work), c->workSize, 0, word, word == 1 ? 0 : 1,
                                 &bitStream);
        if (got == 0) {
            return -1;
        }
        if (got > 0) {
            c->workLeft = static_cast<int32_t>(got);
            return 0;
        }
    }
    return -1;
}

// A frame past the stream's end is refused by the decoder, and so here: the converter stays
// where it was.
int32_t SeekVorbisPcm(SoundConverter* c, int32_t frame)
{
    if (c->vorbisOpen == 1 && ov_pcm_seek(FileOf(c), static_cast<ogg_int64_t>(frame)) != 0) {
        return -1;
    }
    c->workLeft = 0;
    c->workOffset = 0;
    c->position = static_cast<int32_t>(static_cast<int64_t>(frame) * c->output.blockAlign);
    return 0;
}

int32_t CloseVorbisSource(SoundConverter* c)
{
    if (c->vorbisOpen == 1) {
        ov_clear(FileOf(c));
        FreeTrackedMemory(c->vorbisFile);
        c->vorbisFile = nullptr;
    }
    c->vorbisOpen = 0;
    return 0;
}

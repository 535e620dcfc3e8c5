// The compressed-WAVE kind of converter: the data is held whole and fed to the system's
// Audio Compression Manager in blocks of at most 2,048 bytes.
#include <windows.h>

#include <mmreg.h>
#include <msacm.h>

#include "quarn/sound/sound_stream.h"

namespace {

constexpr int32_t kAcmInputBlock = 2048;
constexpr int32_t kStandbyLead = 10240;

HACMSTREAM AsStream(uintptr_t value) { return reinterpret_cast<HACMSTREAM>(value); }

uintptr_t OpenStream(SoundConverter* c)
{
    HACMSTREAM stream = nullptr;
    WAVEFORMATEX output{};
    CopyBytes(&output, &c->output, sizeof output);
    if (acmStreamOpen(&stream, nullptr, static_cast<WAVEFORMATEX*>(c->acmSourceFormat), &output, nullptr, 0, 0,
                      ACM_STREAMOPENF_NONREALTIME) != 0) {
        return 0;
    }
    return reinterpret_cast<uintptr_t>(stream);
}

void CloseStream(uintptr_t* stream)
{
    if (*stream != 0) {
        acmStreamClose(AsStream(*stream), 0);
    }
    *stream = 0;
}

void ReopenStream(SoundConverter* c, uintptr_t* stream)
{
    CloseStream(stream);
    *stream = OpenStream(c);
}

// One conversion of up to a block of input at position into destination. -1 when the
// header cannot be prepared; else 0 with the bytes used on each side.
int32_t ConvertOnce(uintptr_t stream, SoundConverter* c, int32_t position, uint8_t* destination,
                    int32_t destinationBytes, int32_t* used, int32_t* produced)
{
    const int32_t left = c->compressedSize - position;
    ACMSTREAMHEADER header{};
    header.cbStruct = sizeof header;
    header.pbSrc = c->compressed + position;
    header.cbSrcLength = static_cast<DWORD>(left < kAcmInputBlock ? left : kAcmInputBlock);
    header.pbDst = destination;
    header.cbDstLength = static_cast<DWORD>(destinationBytes);
    if (stream == 0 || acmStreamPrepareHeader(AsStream(stream), &header, 0) != 0) {
        return -1;
    }
    acmStreamConvert(AsStream(stream), &header, ACM_STREAMCONVERTF_BLOCKALIGN);
    *used = static_cast<int32_t>(header.cbSrcLengthUsed);
    *produced = static_cast<int32_t>(header.cbDstLengthUsed);
    acmStreamUnprepareHeader(AsStream(stream), &header, 0);
    return 0;
}

int32_t Refuse(SoundConverter* c)
{
    FreeAcmConverter(c);
    FreeTrackedMemory(c->work);
    c->work = nullptr;
    AppendLog(L"対応していない WAVE フォーマットです\n");
    return -1;
}

}  // namespace

int32_t ConvertAcmBlock(SoundConverter* c)
{
    // The stand-by stream moves one block toward its target. Once it has used all the input
    // it stays where it is: an empty conversion would end the data of the main stream.
    if (c->standbyProduced != c->standbyTarget) {
        if (c->standbyProduced > c->standbyTarget) {
            ReopenStream(c, &c->acmStandby);
            c->standbyProduced = 0;
            c->standbyPosition = 0;
        }
        if (c->standbyTarget - kStandbyLead > c->standbyProduced && c->standbyPosition < c->compressedSize) {
            int32_t room = c->workSize;
            if (c->workSize + c->standbyProduced > c->standbyTarget) {
                room = c->standbyTarget - c->standbyProduced;
            }
            int32_t used = 0;
            int32_t produced = 0;
            if (ConvertOnce(c->acmStandby, c, c->standbyPosition, c->scratch, room, &used, &produced) != 0) {
                return -1;
            }
            c->standbyProduced += produced;
            c->standbyPosition += used;
        }
    }
    if (c->mainPosition >= c->compressedSize) {
        return -1;
    }
    int32_t used = 0;
    int32_t produced = 0;
    if (ConvertOnce(c->acmMain, c, c->mainPosition, c->work, c->workSize, &used, &produced) != 0) {
        return -1;
    }
    c->workLeft = produced;
    c->mainPosition += used;
    if (produced == 0) {
        c->workLeft = 0;
        c->mainPosition = c->compressedSize;
        return -1;
    }
    return 0;
}

int32_t SeekAcmSource(SoundConverter* c, int32_t frame)
{
    const int32_t target = frame * c->output.blockAlign;
    if (target >= c->position && target - c->position <= c->workLeft) {
        c->workOffset += target - c->position;
        c->workLeft -= target - c->position;
        c->position = target;
        return 0;
    }
    if (target < c->position) {
        if (target >= c->standbyProduced) {
            // The stand-by stream is nearer: it takes over, and a fresh one trails it.
            const uintptr_t main = c->acmMain;
            c->acmMain = c->acmStandby;
            c->acmStandby = main;
            c->mainPosition = c->standbyPosition;
            c->position = c->standbyProduced;
            ReopenStream(c, &c->acmStandby);
            c->standbyProduced = 0;
            c->standbyPosition = 0;
        } else {
            ReopenStream(c, &c->acmMain);
            c->mainPosition = 0;
            c->position = 0;
        }
        c->workLeft = 0;
        c->workOffset = 0;
    }
    while (static_cast<int64_t>(c->position) + c->workLeft < target) {
        c->position += c->workLeft;
        c->workLeft = 0;
        c->workOffset = 0;
        if (ConvertAcmBlock(c) != 0) {
            c->workLeft = 0;
            c->ended = 1;
            return 0;
        }
    }
    c->workOffset += target - c->position;
    c->workLeft -= target - c->position;
    c->position = target;
    return 0;
}

int32_t FreeAcmConverter(SoundConverter* c)
{
    FreeTrackedMemory(c->acmSourceFormat);
    c->acmSourceFormat = nullptr;
    FreeTrackedMemory(c->scratch);
    c->scratch = nullptr;
    CloseStream(&c->acmMain);
    CloseStream(&c->acmStandby);
    FreeTrackedMemory(c->compressed);
    c->compressed = nullptr;
    return 0;
}

int32_t OpenAcmConverter(SoundConverter* c, int32_t formatStart, uint32_t formatBytes, int32_t dataSize,
                         int32_t workSize)
{
    if (formatBytes > 0xFFFF || dataSize <= 0 || workSize <= 0) {
        return Refuse(c);
    }
    const int32_t dataStart = c->stream.tell(c->streamHandle);
    // The format with its extra bytes, and never shorter than the system's record.
    const uint32_t formatSize = formatBytes < sizeof(WAVEFORMATEX) ? sizeof(WAVEFORMATEX) : formatBytes;
    c->acmSourceFormat = AllocTrackedMemoryZeroed(formatSize, __FILE__, static_cast<uint16_t>(__LINE__));
    c->compressed = static_cast<uint8_t*>(
        AllocTrackedMemory(static_cast<uint32_t>(dataSize), __FILE__, static_cast<uint16_t>(__LINE__)));
    c->work = static_cast<uint8_t*>(
        AllocTrackedMemory(static_cast<uint32_t>(workSize), __FILE__, static_cast<uint16_t>(__LINE__)));
    c->scratch = static_cast<uint8_t*>(
        AllocTrackedMemory(static_cast<uint32_t>(workSize), __FILE__, static_cast<uint16_t>(__LINE__)));
    if (c->acmSourceFormat == nullptr || c->compressed == nullptr || c->work == nullptr || c->scratch == nullptr ||
        c->stream.seek(c->streamHandle, formatStart, 0) != 0 ||
        c->stream.read(c->acmSourceFormat, 1, formatBytes, c->streamHandle) != static_cast<int32_t>(formatBytes) ||
        c->stream.seek(c->streamHandle, dataStart, 0) != 0) {
        return Refuse(c);
    }
    auto* source = static_cast<WAVEFORMATEX*>(c->acmSourceFormat);
    // The extra bytes the record names must lie in the chunk.
    if (formatBytes < sizeof(WAVEFORMATEX) || sizeof(WAVEFORMATEX) + source->cbSize > formatBytes) {
        source->cbSize = 0;
    }
    // A stream shorter than its data chunk gives what it holds.
    const int32_t got = c->stream.read(c->compressed, 1, static_cast<uint32_t>(dataSize), c->streamHandle);
    if (got <= 0) {
        return Refuse(c);
    }
    WAVEFORMATEX pcm{};
    pcm.wFormatTag = WAVE_FORMAT_PCM;
    if (acmFormatSuggest(nullptr, source, &pcm, sizeof pcm, ACM_FORMATSUGGESTF_WFORMATTAG) != 0 ||
        pcm.nBlockAlign == 0) {
        return Refuse(c);
    }
    CopyBytes(&c->output, &pcm, sizeof pcm);
    c->output.extraSize = 0;
    c->compressedSize = got;
    c->acmMain = OpenStream(c);
    c->acmStandby = OpenStream(c);
    if (c->acmMain == 0 || c->acmStandby == 0) {
        return Refuse(c);
    }
    // The work buffer takes the whole output of one input block.
    DWORD blockOutput = 0;
    if (acmStreamSize(AsStream(c->acmMain), kAcmInputBlock, &blockOutput, ACM_STREAMSIZEF_SOURCE) != 0) {
        return Refuse(c);
    }
    if (blockOutput > static_cast<DWORD>(workSize)) {
        if (blockOutput > (1u << 24)) {
            return Refuse(c);
        }
        workSize = static_cast<int32_t>(blockOutput);
        FreeTrackedMemory(c->work);
        FreeTrackedMemory(c->scratch);
        c->work = static_cast<uint8_t*>(AllocTrackedMemory(blockOutput, __FILE__, static_cast<uint16_t>(__LINE__)));
        c->scratch = static_cast<uint8_t*>(AllocTrackedMemory(blockOutput, __FILE__, static_cast<uint16_t>(__LINE__)));
        if (c->work == nullptr || c->scratch == nullptr) {
            return Refuse(c);
        }
    }
    c->kind = kConvertAcm;
    c->workSize = workSize;
    c->workLeft = 0;
    c->workOffset = 0;
    c->position = 0;
    c->mainPosition = 0;
    c->standbyPosition = 0;
    c->standbyProduced = 0;
    // The stand-by stays at the start: a loop back to the beginning converts nothing twice.
    c->standbyTarget = 0;
    c->ended = 0;
    c->inUse = 1;
    return 0;
}

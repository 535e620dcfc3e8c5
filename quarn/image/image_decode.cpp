// The decoders' shared reader and allocation record, and the front that tries every decoder
// in turn.
#include <cstring>

#include "quarn/core/core.h"
#include "quarn/core/files.h"
#include "quarn/image/image_decode.h"

namespace {

constexpr uint32_t kLargestDecodeByteLimit = 0x7FFFFFFF;  // also the limit at start
uint32_t s_decodeByteLimit = kLargestDecodeByteLimit;

// The pixel memory of the image a caller decodes into, for the decoder that recognises the
// data and fills that record; taken when a decoder has put its picture there. Decodes run on
// one thread.
uint8_t* s_offeredPixels = nullptr;
const BaseImage* s_offeredFor = nullptr;
bool s_offeredTaken = false;

constexpr int kUserDecoderSlots = 10;
ImageStreamDecoder s_userDecoders[kUserDecoderSlots];
int s_userDecoderCount = 0;

// Tried in this order: formats with a signature first, then the raw format and TGA, whose
// headers are weaker, and DDS.
const ImageStreamDecoder kBuiltInDecoders[] = {
    DecodeBmpStream, DecodeJpegStream, DecodePngStream, DecodeBgraStream, DecodeTgaStream, DecodeDdsStream, nullptr,
};

void Forget(DecodeAllocations* a, int index)
{
    a->blocks[index] = a->blocks[a->count - 1];
    --a->count;
}

}  // namespace

int ReadImageBytes(ImageReader* reader, void* dst, uint32_t bytes)
{
    if (bytes == 0) return 0;
    if (reader->functions->read(dst, bytes, 1, reader->handle) == 1) return 0;
    reader->shortRead = 1;
    return -1;
}

int SeekImage(ImageReader* reader, int64_t position)
{
    if (position < 0 || position > 0x7FFFFFFF) return -1;
    return reader->functions->seek(reader->handle, int32_t(position), 0) == 0 ? 0 : -1;
}

int64_t TellImage(ImageReader* reader) { return reader->functions->tell(reader->handle); }

int64_t MeasureImageStream(ImageReader* reader)
{
    const int64_t here = TellImage(reader);
    if (here < 0 || reader->functions->seek(reader->handle, 0, 2) != 0) return -1;
    const int64_t end = TellImage(reader);
    if (SeekImage(reader, here) != 0 || end < here) return -1;
    return end - here;
}

const uint8_t* HeldImageBytes(ImageReader* reader, uint32_t* left)
{
    // Only the memory stream's own reader tells that the handle is a MemoryStream.
    if (reader->functions->read != ReadMemoryStream) return nullptr;
    const MemoryStream* m = reinterpret_cast<const MemoryStream*>(reader->handle);
    if (!m->data || m->position > m->size) return nullptr;
    *left = m->size - m->position;
    return m->data + m->position;
}

uint32_t DecodeByteLimit() { return s_decodeByteLimit; }

bool FitsDecodeLimit(uint64_t bytes) { return bytes <= s_decodeByteLimit; }

uint8_t* AllocDecodeBlock(DecodeAllocations* allocations, uint64_t bytes, int zeroed)
{
    if (!FitsDecodeLimit(bytes) ||
        allocations->count == int32_t(sizeof allocations->blocks / sizeof allocations->blocks[0]))
        return nullptr;
    const uint32_t size = bytes ? uint32_t(bytes) : 1;
    void* block = zeroed ? AllocTrackedMemoryZeroed(size, "", 0) : AllocTrackedMemory(size, "", 0);
    if (block) allocations->blocks[allocations->count++] = block;
    return static_cast<uint8_t*>(block);
}

uint8_t* AllocImagePixels(DecodeAllocations* allocations, uint64_t bytes, int zeroed)
{
    if (!s_offeredPixels || s_offeredTaken || allocations->image != s_offeredFor || !FitsDecodeLimit(bytes) ||
        bytes > TrackedMemorySize(s_offeredPixels))
        return AllocDecodeBlock(allocations, bytes, zeroed);
    s_offeredTaken = true;
    if (zeroed) std::memset(s_offeredPixels, 0, size_t(bytes));
    return s_offeredPixels;
}

void FreeDecodeBlock(DecodeAllocations* allocations, void* block)
{
    for (int i = 0; i < allocations->count; ++i)
        if (allocations->blocks[i] == block) {
            FreeTrackedMemory(block);
            Forget(allocations, i);
            return;
        }
}

int RunImageDecoder(DecodeBody body, const ImageStream* stream, BaseImage* out)
{
    if (!stream || !stream->functions || !out) return -1;
    ImageReader reader{stream->functions, stream->handle, 0};
    DecodeAllocations allocations{};
    allocations.image = out;
    std::memset(static_cast<void*>(out), 0, sizeof *out);
    // Every format is read from the start of the stream.
    const int result = SeekImage(&reader, 0) == 0 ? body(&reader, &allocations, out) : -1;
    for (int i = 0; i < allocations.count; ++i)
        if (result != 0 || allocations.blocks[i] != out->pixels) FreeTrackedMemory(allocations.blocks[i]);
    if (result != 0) {
        // The offered memory is not recorded: it stays the caller's for the next decoder.
        s_offeredTaken = false;
        std::memset(static_cast<void*>(out), 0, sizeof *out);
        return -1;
    }
    return 0;
}

int RefuseImageData(const wchar_t* format, const wchar_t* why)
{
    return AppendLogFormat(L"%ls画像を読み込めません: %ls", format, why);
}

uint32_t SetDecodedImageByteLimit(uint32_t bytes)
{
    const uint32_t old = s_decodeByteLimit;
    s_decodeByteLimit = bytes > kLargestDecodeByteLimit ? kLargestDecodeByteLimit : bytes;
    return old;
}

void ResetImageState()
{
    DestroyAllBaseImageHandles();
    s_userDecoderCount = 0;
    s_decodeByteLimit = kLargestDecodeByteLimit;
}

int AddImageStreamDecoder(ImageStreamDecoder decoder)
{
    if (!decoder || s_userDecoderCount == kUserDecoderSlots) return -1;
    s_userDecoders[s_userDecoderCount++] = decoder;
    return 0;
}

namespace {

// Tries the decoders with `offered` as the memory the picture may take (null: none). The
// offer of an enclosing decode is put back afterwards.
int DecodeWithOffer(const ImageStream* stream, BaseImage* out, uint8_t* offered)
{
    uint8_t* const outerPixels = s_offeredPixels;
    const BaseImage* const outerFor = s_offeredFor;
    const bool outerTaken = s_offeredTaken;
    s_offeredPixels = offered;
    s_offeredFor = out;
    s_offeredTaken = false;
    int result = -1;
    auto attempt = [&](ImageStreamDecoder decoder) {
        if (stream->functions->seek(stream->handle, 0, 0) != 0) return false;
        std::memset(static_cast<void*>(out), 0, sizeof *out);
        return decoder(stream, out) == 0;
    };
    for (int i = 0; i < s_userDecoderCount && result != 0; ++i)
        if (attempt(s_userDecoders[i])) result = 0;
    for (const ImageStreamDecoder* d = kBuiltInDecoders; *d && result != 0; ++d)
        if (attempt(*d)) result = 0;
    if (result != 0) std::memset(static_cast<void*>(out), 0, sizeof *out);
    s_offeredPixels = outerPixels;
    s_offeredFor = outerFor;
    s_offeredTaken = outerTaken;
    return result;
}

}  // namespace

int DecodeImageStream(const ImageStream* stream, BaseImage* out)
{
    if (!out) return -1;
    std::memset(static_cast<void*>(out), 0, sizeof *out);
    if (!stream || !stream->functions) return -1;
    return DecodeWithOffer(stream, out, nullptr);
}

int DecodeImageStreamInto(const ImageStream* stream, BaseImage* image)
{
    if (!image) return -1;
    uint8_t* const offered = image->pixels;
    std::memset(static_cast<void*>(image), 0, sizeof *image);
    const int result = stream && stream->functions ? DecodeWithOffer(stream, image, offered) : -1;
    // Memory the new picture did not take is freed, on failure too: the image is discarded.
    if (offered && image->pixels != offered) FreeTrackedMemory(offered);
    return result;
}

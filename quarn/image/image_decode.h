// What the image decoders share (not part of the subsystem's interface): a reader over the
// stream table that notices short reads, little-endian fields, and the record of what a
// decode has allocated, so that a failed decode frees all of it in one place.
#pragma once

#include <cstdint>

#include "quarn/core/byte_order.h"
#include "quarn/image/image.h"

struct ImageReader {
    const StreamFunctionTable* functions;
    StreamHandle handle;
    int32_t shortRead;  // set by the first read that got fewer bytes than it asked for
};

// Exactly `bytes` bytes, or -1 (and shortRead set) when the stream holds fewer.
int ReadImageBytes(ImageReader* reader, void* dst, uint32_t bytes);
// From the start of the stream; -1 for a position the stream cannot name.
int SeekImage(ImageReader* reader, int64_t position);
int64_t TellImage(ImageReader* reader);
// Bytes from the current position to the end of the stream (the position is kept), or -1.
int64_t MeasureImageStream(ImageReader* reader);
// Where the stream is a block of memory (a memory stream): its bytes from the current position
// on, with their count in *left, for a decoder to read in place instead of copying them out.
// Null for every other stream. The position is kept; SeekImage moves it past what was read.
const uint8_t* HeldImageBytes(ImageReader* reader, uint32_t* left);

// The blocks one decode has allocated. Plain data: the PNG and JPEG decoders keep it
// across their libraries' non-local error exits.
struct DecodeAllocations {
    void* blocks[8];
    int32_t count;
    const BaseImage* image;  // the record the decode fills
};

// The most bytes a decode may allocate for one image, and whether a size is within it.
uint32_t DecodeByteLimit();
bool FitsDecodeLimit(uint64_t bytes);
// A block of `bytes` (at least 1) from the library allocator, recorded for the decode; null
// above the decode limit or when memory runs out. zeroed 1 clears it.
uint8_t* AllocDecodeBlock(DecodeAllocations* allocations, uint64_t bytes, int zeroed = 0);
// The block for the decoded image's pixels: the memory of the image the caller decodes into
// (DecodeImageStreamInto) when it holds `bytes`, otherwise a recorded block as above.
uint8_t* AllocImagePixels(DecodeAllocations* allocations, uint64_t bytes, int zeroed = 0);
// Frees one recorded block before the decode ends.
void FreeDecodeBlock(DecodeAllocations* allocations, void* block);

// A decoder's work: reads the stream into `out`, allocating through `allocations` only.
// 0 / -1.
using DecodeBody = int (*)(ImageReader* reader, DecodeAllocations* allocations, BaseImage* out);
// Runs a decoder's work on the stream. On success every recorded block except the image's
// pixels is freed; on failure every one of them, and the image is zeroed.
int RunImageDecoder(DecodeBody body, const ImageStream* stream, BaseImage* out);

// The log line of data that a decoder recognised as its format but cannot read. -1.
int RefuseImageData(const wchar_t* format, const wchar_t* why);

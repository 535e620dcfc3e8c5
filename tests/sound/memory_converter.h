// Converters in the tests, the fuzz targets and the benchmarks read their bytes from memory.
#pragma once

#include <cstddef>
#include <cstdint>

#include "quarn/core/files.h"
#include "quarn/sound/sound_stream.h"

// Clears the converter record and points it at the memory stream, read from its start again:
// one stream may serve converter after converter (as the allocation sweeps open them).
inline void ConverterOverStream(SoundConverter* c, MemoryStream* stream)
{
    *c = SoundConverter{};
    c->stream = *GetMemoryStreamFunctions();
    c->streamHandle = reinterpret_cast<StreamHandle>(stream);
    if (stream != nullptr) SeekMemoryStream(c->streamHandle, 0, 0);
}

// Clears the converter record and points it at a memory stream over the bytes, which must
// outlive it. The stream is returned (null when it could not be made) and is closed through
// the converter's own stream functions.
inline MemoryStream* ConverterOverBytes(SoundConverter* c, const uint8_t* bytes, size_t size)
{
    MemoryStream* stream = OpenMemoryStream(bytes, static_cast<uint32_t>(size));
    ConverterOverStream(c, stream);
    return stream;
}

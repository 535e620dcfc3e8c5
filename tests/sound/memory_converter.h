// Converters in the tests, the fuzz targets and the benchmarks read their bytes from memory.
#pragma once

#include <cstddef>
#include <cstdint>

#include "quarn/core/files.h"
#include "quarn/sound/sound_stream.h"

// Clears the converter record and points it at a memory stream over the bytes, which must
// outlive it. The stream is returned (null when it could not be made) and is closed through
// the converter's own stream functions.
inline MemoryStream* ConverterOverBytes(SoundConverter* c, const uint8_t* bytes, size_t size)
{
    *c = SoundConverter{};
    MemoryStream* stream = OpenMemoryStream(bytes, static_cast<uint32_t>(size));
    c->stream = *GetMemoryStreamFunctions();
    c->streamHandle = reinterpret_cast<StreamHandle>(stream);
    return stream;
}

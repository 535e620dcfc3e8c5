// DecodeBmpStream on arbitrary bytes: refused with nothing kept, or an image whose pixels can be used.
#include "fuzz_image.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    fuzz_image::Run(data, size, DecodeBmpStream);
    return 0;
}

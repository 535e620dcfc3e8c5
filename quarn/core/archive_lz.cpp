// The LZ decoder of archive members and embedded data. The block is not trusted: the
// decoder stays within the block's bytes and the destination's size, and refuses a match
// that reaches before the start of its output.

#include "quarn/core/archive.h"
#include "quarn/core/file_internal.h"

#include <cstring>

namespace {

// The most output one byte of code stream can give: a match of 8,195 bytes takes four.
constexpr uint64_t kMostOutputPerByte = 2049;

int64_t RefuseBlock() { return AppendLog(L"圧縮データが壊れています\n"); }

// A match's copy: byte after byte in effect, so that a distance shorter than the length
// repeats the pattern; done in pieces as long as the distance has grown to.
void CopyMatch(uint8_t* out, uint32_t distance, uint32_t length)
{
    const uint8_t* from = out - distance;
    if (distance >= length) {
        std::memcpy(out, from, length);
        return;
    }
    if (distance == 1) {
        std::memset(out, *from, length);
        return;
    }
    while (length > 0) {
        const uint32_t piece = uint32_t(out - from) < length ? uint32_t(out - from) : length;
        std::memcpy(out, from, piece);
        out += piece;
        length -= piece;
    }
}

}  // namespace

int64_t DecompressArchiveData(const void* block, uint32_t available, void* destination, uint32_t capacity)
{
    const uint8_t* head = static_cast<const uint8_t*>(block);
    if (!head || available < uint32_t(kLzHeadBytes)) return RefuseBlock();
    const uint32_t stated = ReadLe32(head);
    const uint32_t blockBytes = ReadLe32(head + 4);
    const uint8_t escape = head[8];
    // A stated size the code stream could not produce is refused before anyone allocates it.
    if (blockBytes < uint32_t(kLzHeadBytes) || blockBytes > available ||
        stated > uint64_t(blockBytes - kLzHeadBytes) * kMostOutputPerByte)
        return RefuseBlock();
    if (!destination) return stated;
    if (stated > capacity) return RefuseBlock();

    const uint8_t* in = head + kLzHeadBytes;
    const uint8_t* const inEnd = head + blockBytes;
    uint8_t* const start = static_cast<uint8_t*>(destination);
    uint8_t* out = start;
    uint8_t* const outEnd = start + stated;
    while (in < inEnd) {
        const void* found = std::memchr(in, escape, size_t(inEnd - in));
        const uint8_t* runEnd = found ? static_cast<const uint8_t*>(found) : inEnd;
        const size_t run = size_t(runEnd - in);
        if (run > size_t(outEnd - out)) return RefuseBlock();
        std::memcpy(out, in, run);
        out += run;
        in = runEnd;
        if (!found) break;
        if (inEnd - in < 2) return RefuseBlock();
        uint32_t code = in[1];
        in += 2;
        if (code == escape) {
            if (out == outEnd) return RefuseBlock();
            *out++ = escape;
            continue;
        }
        if (code > escape) --code;
        uint32_t length = code >> 3;
        if (code & 4) {
            if (in == inEnd) return RefuseBlock();
            length |= uint32_t(*in++) << 5;
        }
        length += 4;
        const uint32_t width = (code & 3) + 1;
        if (width == 4 || uint32_t(inEnd - in) < width) return RefuseBlock();
        uint32_t distance = in[0];
        if (width > 1) distance |= uint32_t(in[1]) << 8;
        if (width > 2) distance |= uint32_t(in[2]) << 16;
        distance += 1;
        in += width;
        if (distance > uint32_t(out - start) || length > uint32_t(outEnd - out)) return RefuseBlock();
        CopyMatch(out, distance, length);
        out += length;
    }
    if (out != outEnd) return RefuseBlock();
    return stated;
}

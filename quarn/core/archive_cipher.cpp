// The archive cipher. Each byte is combined with a key stream that depends on the 12-byte
// key and the byte's offset in the archive: key[offset % 12] and a byte mixed from the
// offset / 48 and the key. The combination is an exclusive or, so the same call
// enciphers and deciphers; the stream repeats the key every 48 bytes apart from the mixed
// byte, so whole 48-byte groups are done a machine word at a time.

#include "quarn/core/archive.h"
#include "quarn/core/file_internal.h"

#include <cstring>

namespace {

constexpr uint32_t kGroupBytes = 48;

uint8_t GroupByte(const uint8_t key[kArchiveKeyBytes], uint32_t group)
{
    // Zero for the plain key, so that it leaves bytes as they are.
    const uint32_t mixer = ReadLe32(key + 4) ^ ReadLe32(key + 8);
    uint32_t x = group * mixer;
    x ^= x >> 15;
    return static_cast<uint8_t>(x >> 24);
}

bool IsPlainKey(const uint8_t key[kArchiveKeyBytes])
{
    for (int i = 0; i < kArchiveKeyBytes; ++i) {
        if (key[i] != 0)
            return false;
    }
    return true;
}

}  // namespace

void DeriveArchiveKey(const char* keyText, uint8_t key[kArchiveKeyBytes])
{
    // The default text is put together here rather than kept as one string in the program.
    char defaultText[16];
    const char parts[] = {'q', 'U', 'a', '-', 'R', 'n', '#', '3', '0', '3', '!', 'k', 0};
    std::memcpy(defaultText, parts, sizeof parts);
    const char* text = keyText && *keyText ? keyText : defaultText;

    uint32_t h = 2166136261u;
    for (const unsigned char* p = reinterpret_cast<const unsigned char*>(text); *p; ++p) {
        h ^= *p;
        h *= 16777619u;
    }
    for (int i = 0; i < kArchiveKeyBytes; ++i) {
        h += 0x9E3779B9u;
        uint32_t x = h;
        x ^= x >> 16;
        x *= 0x7FEB352Du;
        x ^= x >> 15;
        x *= 0x846CA68Bu;
        x ^= x >> 16;
        key[i] = static_cast<uint8_t>(x >> 24);
    }
    // A derived key never leaves the magic as it is, so that a plain archive is told
    // apart from an enciphered one by the first two bytes.
    if (key[0] == 0 && key[1] == 0)
        key[0] = 0x5A;
}

void BuildFallbackArchiveKey(uint8_t key[kArchiveKeyBytes])
{
    std::memset(key, 0, kArchiveKeyBytes);
}

void ScrambleArchiveBytes(const uint8_t key[kArchiveKeyBytes], void* buffer, uint32_t size, uint32_t offset)
{
    if (IsPlainKey(key) || size == 0)
        return;
    uint8_t* p = static_cast<uint8_t*>(buffer);
    uint64_t position = offset;
    const uint64_t end = position + size;
    // Up to the next whole group.
    while (position < end && position % kGroupBytes != 0) {
        *p++ ^= key[position % kArchiveKeyBytes] ^ GroupByte(key, static_cast<uint32_t>(position / kGroupBytes));
        ++position;
    }
    // Whole groups: the key four times over, six words, each combined with the group's
    // mixed byte in every lane.
    uint64_t pattern[kGroupBytes / 8];
    uint8_t repeated[kGroupBytes];
    for (uint32_t i = 0; i < kGroupBytes; ++i)
        repeated[i] = key[i % kArchiveKeyBytes];
    std::memcpy(pattern, repeated, sizeof pattern);
    while (end - position >= kGroupBytes) {
        const uint64_t lanes = uint64_t(GroupByte(key, static_cast<uint32_t>(position / kGroupBytes))) *
                               0x0101010101010101ull;
        for (int w = 0; w < int(kGroupBytes / 8); ++w) {
            uint64_t word;
            std::memcpy(&word, p + w * 8, 8);
            word ^= pattern[w] ^ lanes;
            std::memcpy(p + w * 8, &word, 8);
        }
        p += kGroupBytes;
        position += kGroupBytes;
    }
    while (position < end) {
        *p++ ^= key[position % kArchiveKeyBytes] ^ GroupByte(key, static_cast<uint32_t>(position / kGroupBytes));
        ++position;
    }
}

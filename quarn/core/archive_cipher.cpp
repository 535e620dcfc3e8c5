// The archive cipher. Each byte is combined with a key stream that depends on the 12-byte
// key and the byte's offset in the archive: key[offset % 12] and a byte mixed from the
// offset / 48 and the key. The combination is an exclusive or, so the same call
// enciphers and deciphers; the stream repeats the key every 48 bytes apart from the mixed
// byte, so whole 48-byte groups are done 16 bytes at a time.

#include "quarn/core/archive.h"
#include "quarn/core/file_internal.h"

#include <cstring>

namespace {

constexpr uint32_t kGroupBytes = 48;

uint32_t Mixer(const uint8_t key[kArchiveKeyBytes])
{
    // Zero for the plain key, so that it leaves bytes as they are.
    return ReadLe32(key + 4) ^ ReadLe32(key + 8);
}

// The mixed byte of a group, from group x mixer.
uint8_t MixedByte(uint32_t product) { return static_cast<uint8_t>((product ^ (product >> 15)) >> 24); }

uint8_t KeyStreamByte(const uint8_t key[kArchiveKeyBytes], uint64_t position)
{
    return key[position % kArchiveKeyBytes] ^ MixedByte(static_cast<uint32_t>(position / kGroupBytes) * Mixer(key));
}

bool IsPlainKey(const uint8_t key[kArchiveKeyBytes])
{
    for (int i = 0; i < kArchiveKeyBytes; ++i) {
        if (key[i] != 0) return false;
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
    if (key[0] == 0 && key[1] == 0) key[0] = 0x5A;
}

void BuildFallbackArchiveKey(uint8_t key[kArchiveKeyBytes]) { std::memset(key, 0, kArchiveKeyBytes); }

void ScrambleArchiveBytes(const uint8_t key[kArchiveKeyBytes], void* buffer, uint32_t size, uint32_t offset)
{
    if (IsPlainKey(key) || size == 0) return;
    uint8_t* p = static_cast<uint8_t*>(buffer);
    uint64_t position = offset;
    const uint64_t end = position + size;
    while (position < end && position % kGroupBytes != 0) *p++ ^= KeyStreamByte(key, position++);
    // Whole groups: the key four times over in three 16-byte lanes, each byte combined
    // with the group's mixed byte.
    typedef uint8_t Lanes __attribute__((vector_size(16)));
    Lanes pattern[kGroupBytes / 16];
    uint8_t repeated[kGroupBytes];
    for (uint32_t i = 0; i < kGroupBytes; ++i) repeated[i] = key[i % kArchiveKeyBytes];
    std::memcpy(pattern, repeated, sizeof pattern);
    const uint32_t mixer = Mixer(key);
    uint32_t product = static_cast<uint32_t>(position / kGroupBytes) * mixer;
    for (; end - position >= kGroupBytes; position += kGroupBytes, p += kGroupBytes, product += mixer) {
        const Lanes mixed = Lanes{} + MixedByte(product);
        for (int w = 0; w < int(kGroupBytes / 16); ++w) {
            Lanes v;
            std::memcpy(&v, p + w * 16, 16);
            v ^= pattern[w] ^ mixed;
            std::memcpy(p + w * 16, &v, 16);
        }
    }
    while (position < end) *p++ ^= KeyStreamByte(key, position++);
}

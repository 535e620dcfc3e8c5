// LZ encoder: hash chains over a window of up to 1 MB with one step of lazy matching. A match
// costs its escape and code bytes, an extra length byte from 36 bytes on, and one to
// three distance bytes; it is taken only when that is less than its bytes as literals.

#include "qua_writer.h"

#include <cstring>

namespace quapack {

namespace {

constexpr uint32_t kMinMatch = 4;
constexpr uint32_t kMaxMatch = 4 + 8191;  // 13 length bits
constexpr uint32_t kWindowBits = 20;      // a 1 MB window at most
constexpr uint32_t kHashBits = 17;
constexpr int kChainDepth = 48;

// Bits enough for size positions, between 8 and most.
uint32_t BitsFor(size_t size, uint32_t most)
{
    uint32_t bits = 8;
    while (bits < most && (size_t(1) << bits) < size) ++bits;
    return bits;
}

uint32_t DistanceBytes(uint32_t distance)
{
    const uint32_t d = distance - 1;
    return d < 0x100 ? 1 : d < 0x10000 ? 2 : 3;
}

uint32_t MatchCost(uint32_t length, uint32_t distance)
{
    return 2 + (length - kMinMatch >= 32 ? 1 : 0) + DistanceBytes(distance);
}

class Encoder {
public:
    // The tables grow with the input up to their full size, so small inputs are quick.
    Encoder(const uint8_t* data, size_t size)
        : data_(data),
          size_(size),
          hashBits_(BitsFor(size, kHashBits)),
          window_(size_t(1) << BitsFor(size, kWindowBits)),
          head_(size_t(1) << hashBits_, -1),
          chain_(window_, -1)
    {
        uint64_t counts[256] = {};
        for (size_t i = 0; i < size; ++i) ++counts[data[i]];
        for (int b = 1; b < 256; ++b) {
            if (counts[b] < counts[escape_]) escape_ = static_cast<uint8_t>(b);
        }
    }

    std::vector<uint8_t> Run()
    {
        out_.reserve(size_ + size_ / 32 + 16);
        out_.resize(9);
        size_t i = 0;
        while (i < size_) {
            uint32_t length = 0;
            uint32_t distance = 0;
            Find(i, &length, &distance);
            if (length && i + 1 < size_) {
                // One step of lazy matching: a better match one byte on wins.
                uint32_t nextLength = 0;
                uint32_t nextDistance = 0;
                Insert(i);
                Find(i + 1, &nextLength, &nextDistance);
                if (nextLength > length + 1) {
                    Literal(data_[i]);
                    ++i;
                    continue;
                }
                Match(length, distance);
                for (size_t k = i + 1; k < i + length; ++k) Insert(k);
                i += length;
                continue;
            }
            if (length) {
                Match(length, distance);
                for (size_t k = i; k < i + length; ++k) Insert(k);
                i += length;
                continue;
            }
            Insert(i);
            Literal(data_[i]);
            ++i;
        }
        const uint32_t decompressed = static_cast<uint32_t>(size_);
        const uint32_t blockBytes = static_cast<uint32_t>(out_.size());
        for (int k = 0; k < 4; ++k) {
            out_[k] = static_cast<uint8_t>(decompressed >> (8 * k));
            out_[4 + k] = static_cast<uint8_t>(blockBytes >> (8 * k));
        }
        out_[8] = escape_;
        return std::move(out_);
    }

private:
    uint32_t Hash4(const uint8_t* p) const
    {
        uint32_t v;
        std::memcpy(&v, p, 4);
        return (v * 2654435761u) >> (32 - hashBits_);
    }

    void Insert(size_t i)
    {
        if (i + kMinMatch > size_ || inserted_ > i) return;
        const uint32_t h = Hash4(data_ + i);
        chain_[i & (window_ - 1)] = head_[h];
        head_[h] = static_cast<int64_t>(i);
        inserted_ = i + 1;
    }

    // The longest match at i worth its cost, the nearest of equal length (0 when none).
    void Find(size_t i, uint32_t* bestLength, uint32_t* bestDistance)
    {
        *bestLength = 0;
        if (i + kMinMatch > size_) return;
        const size_t limit = size_ - i < kMaxMatch ? size_ - i : kMaxMatch;
        const uint8_t* b = data_ + i;
        int64_t candidate = head_[Hash4(b)];
        for (int depth = 0; depth < kChainDepth && candidate >= 0; ++depth) {
            const size_t c = static_cast<size_t>(candidate);
            if (c >= i || i - c > window_ - 1) break;
            const uint8_t* a = data_ + c;
            candidate = chain_[c & (window_ - 1)];
            if (*bestLength > 0 && a[*bestLength] != b[*bestLength]) continue;
            uint32_t n = 0;
            while (n < limit && a[n] == b[n]) ++n;
            if (n < kMinMatch || n <= *bestLength) continue;
            const uint32_t distance = static_cast<uint32_t>(i - c);
            uint32_t literalCost = n;
            for (uint32_t k = 0; k < n; ++k) literalCost += b[k] == escape_;
            if (MatchCost(n, distance) >= literalCost) continue;
            *bestLength = n;
            *bestDistance = distance;
            if (n == limit) break;
        }
    }

    void Literal(uint8_t b)
    {
        out_.push_back(b);
        if (b == escape_) out_.push_back(escape_);
    }

    void Match(uint32_t length, uint32_t distance)
    {
        const uint32_t lengthBits = length - kMinMatch;
        const uint32_t width = DistanceBytes(distance);
        uint32_t code = ((lengthBits & 31) << 3) | (width - 1);
        if (lengthBits >= 32) code |= 4;
        // The code never equals the escape: codes from the escape on are written one higher.
        out_.push_back(escape_);
        out_.push_back(static_cast<uint8_t>(code >= escape_ ? code + 1 : code));
        if (lengthBits >= 32) out_.push_back(static_cast<uint8_t>(lengthBits >> 5));
        const uint32_t d = distance - 1;
        for (uint32_t k = 0; k < width; ++k) out_.push_back(static_cast<uint8_t>(d >> (8 * k)));
    }

    const uint8_t* data_;
    size_t size_;
    uint32_t hashBits_;
    size_t window_;
    uint8_t escape_ = 0;
    std::vector<int64_t> head_;
    std::vector<int64_t> chain_;
    size_t inserted_ = 0;
    std::vector<uint8_t> out_;
};

}  // namespace

std::vector<uint8_t> EncodeLzBlock(const uint8_t* data, size_t size) { return Encoder(data, size).Run(); }

}  // namespace quapack

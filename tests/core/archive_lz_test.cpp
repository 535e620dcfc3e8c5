#include "quarn/core/archive.h"
#include "file_fixture.h"
#include "log_capture.h"
#include "qua_writer.h"

#include <gtest/gtest.h>

#include <memory>
#include <string>

namespace {

// An LZ block: the head (stated size, block size, escape) and the code stream.
std::vector<uint8_t> Block(uint32_t stated, uint8_t escape, const std::vector<uint8_t>& stream)
{
    std::vector<uint8_t> b(9);
    const uint32_t size = uint32_t(9 + stream.size());
    for (int k = 0; k < 4; ++k) {
        b[k] = uint8_t(stated >> (8 * k));
        b[4 + k] = uint8_t(size >> (8 * k));
    }
    b[8] = escape;
    b.insert(b.end(), stream.begin(), stream.end());
    return b;
}

std::vector<uint8_t> Repeat(uint8_t byte, size_t n) { return std::vector<uint8_t>(n, byte); }

std::vector<uint8_t> Join(std::vector<uint8_t> a, const std::vector<uint8_t>& b)
{
    a.insert(a.end(), b.begin(), b.end());
    return a;
}

// Decodes into a buffer of exactly capacity bytes, so that a byte more is an overflow.
int64_t Decode(const std::vector<uint8_t>& block, uint32_t capacity, std::vector<uint8_t>* out)
{
    std::unique_ptr<uint8_t[]> buffer(new uint8_t[capacity ? capacity : 1]);
    const int64_t made = DecompressArchiveData(block.data(), uint32_t(block.size()), buffer.get(), capacity);
    if (out && made >= 0) out->assign(buffer.get(), buffer.get() + made);
    return made;
}

TEST(LzBlock, DecodesLiteralsEscapesAndMatches)
{
    const std::vector<uint8_t> abc = {'a', 'b', 'c'};
    const struct {
        const char* name;
        std::vector<uint8_t> block;
        std::vector<uint8_t> output;
    } cases[] = {
        {"E E is one literal E", Block(1, 0x10, {0x10, 0x10}), {0x10}},
        {"distance 1, length 10 repeats the last byte", Block(11, 0xFF, {'a', 0xFF, 6 << 3, 0}), Repeat('a', 11)},
        {"a code above the escape is lowered by 1", Block(11, 0x00, {'a', 0x00, (6 << 3) + 1, 0}), Repeat('a', 11)},
        {"a block of only its head", Block(0, 0x00, {}), {}},
        {"an extra length byte: (c >> 3) | (b << 5), distance 3 repeating a pattern",
         Block(3 + 100, 0xFF, {'a', 'b', 'c', 0xFF, 4, 3, 2}),
         [] {
             std::vector<uint8_t> v;
             for (int i = 0; i < 103; ++i) v.push_back(uint8_t('a' + i % 3));
             return v;
         }()},
        {"two- and three-byte distances",
         Block(70000 + 8, 0xFF,
               Join(Join(
                        [] {
                            std::vector<uint8_t> v(70000);
                            for (size_t i = 0; i < v.size(); ++i) v[i] = uint8_t(i % 251);
                            return v;
                        }(),
                        {0xFF, 1, 0x2B, 0x01}),     // 4 bytes from 300 back
                    {0xFF, 2, 0x6F, 0x11, 0x01})),  // 4 bytes from 70000 back
         [] {
             std::vector<uint8_t> v(70000);
             for (size_t i = 0; i < v.size(); ++i) v[i] = uint8_t(i % 251);
             for (int k = 0; k < 4; ++k) v.push_back(uint8_t((69700 + k) % 251));
             for (int k = 0; k < 4; ++k) v.push_back(uint8_t(v[v.size() - 70000]));
             return v;
         }()},
        {"literal runs around matches",
         Block(9, 0xFF, Join(abc, {0xFF, 1 << 3, 2, 'x'})),
         {'a', 'b', 'c', 'a', 'b', 'c', 'a', 'b', 'x'}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        std::vector<uint8_t> out;
        EXPECT_EQ(DecompressArchiveData(c.block.data(), uint32_t(c.block.size()), nullptr, 0),
                  int64_t(c.output.size()));
        ASSERT_EQ(Decode(c.block, uint32_t(c.output.size()), &out), int64_t(c.output.size()));
        EXPECT_EQ(out, c.output);
    }
}

// Damaged blocks are refused with the log line, never decoded past either buffer.
TEST(LzBlock, RefusesDamagedBlocks)
{
    std::vector<uint8_t> shortHead = Block(0, 0, {});
    shortHead.resize(8);
    std::vector<uint8_t> sizeBelowHead = Block(0, 0, {});
    sizeBelowHead[4] = 8;
    std::vector<uint8_t> sizePastBytes = Block(1, 0xFF, {'a'});
    sizePastBytes[4] = 11;
    const struct {
        const char* name;
        std::vector<uint8_t> block;
        uint32_t capacity;
    } cases[] = {
        {"a distance before the start of the output", Block(6, 0xFF, {'a', 0xFF, 0, 1}), 6},
        {"a distance width code of 3", Block(6, 0xFF, {'a', 0xFF, 3, 0, 0, 0, 0}), 6},
        {"an escape at the end of the block", Block(2, 0xFF, {'a', 0xFF}), 2},
        {"a match without its distance", Block(5, 0xFF, {'a', 0xFF, 1, 0}), 5},
        {"a match without its length byte", Block(40, 0xFF, {'a', 0xFF, 4}), 40},
        {"literals past the stated size", Block(1, 0xFF, {'a', 'b'}), 1},
        {"a match past the stated size", Block(5, 0xFF, {'a', 0xFF, 6 << 3, 0}), 5},
        {"an escaped escape past the stated size", Block(1, 0x10, {'a', 0x10, 0x10}), 1},
        {"fewer bytes than stated", Block(5, 0xFF, {'a', 'b'}), 5},
        {"a stated size beyond the destination", Block(11, 0xFF, {'a', 0xFF, 6 << 3, 0}), 10},
        {"a head cut short", shortHead, 4},
        {"a block size below the head", sizeBelowHead, 4},
        {"a block size past the bytes given", sizePastBytes, 4},
        {"a stated size no stream of its length could give", Block(2050, 0xFF, {'a'}), 2050},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        LogCapture log;
        EXPECT_EQ(Decode(c.block, c.capacity, nullptr), -1);
        EXPECT_EQ(log.Joined(), L"圧縮データが壊れています\n");
    }
    // The size a caller would allocate is checked before it asks for it.
    const std::vector<uint8_t> huge = Block(0x7FFFFFFF, 0xFF, {'a', 0xFF, 0xFE, 0xFF, 0});
    EXPECT_EQ(DecompressArchiveData(huge.data(), uint32_t(huge.size()), nullptr, 0), -1);
}

TEST(LzBlock, EncoderOutputDecodesToItsInput)
{
    std::vector<uint8_t> everyByte;
    for (int r = 0; r < 50; ++r)
        for (int b = 0; b < 256; ++b) everyByte.push_back(uint8_t(b));
    const struct {
        const char* name;
        std::vector<uint8_t> data;
        bool smaller;
    } cases[] = {
        {"nothing", {}, false},
        {"one byte", {42}, false},
        {"one byte value, long", Repeat(7, 100000), true},
        {"random bytes", RandomBytes(70000, 1), false},
        {"every byte value as often, so the escape occurs", everyByte, true},
        {"text over a long stretch", TextLikeBytes(1 << 20, 2), true},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        const std::vector<uint8_t> block = quapack::EncodeLzBlock(c.data.data(), c.data.size());
        std::vector<uint8_t> out;
        ASSERT_EQ(Decode(block, uint32_t(c.data.size()), &out), int64_t(c.data.size()));
        EXPECT_EQ(out, c.data);
        if (c.smaller) {
            EXPECT_LT(block.size() * 2, c.data.size());
        }
    }
}

}  // namespace

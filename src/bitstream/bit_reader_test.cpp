#include "bitstream/bit_reader.hpp"

#include <gtest/gtest.h>

#include <array>

namespace corvane {
namespace {

constexpr std::array<std::uint8_t, 2> kABCD = {0xAB, 0xCD};

TEST(BitReaderTest, ReadsAcrossByteBoundaries) {
    BitReader reader(kABCD);
    EXPECT_EQ(*reader.read_u64(4), 0xAu);
    EXPECT_EQ(*reader.read_u64(8), 0xBCu);
    EXPECT_EQ(*reader.read_u64(4), 0xDu);
    EXPECT_EQ(reader.position(), 16u);
    EXPECT_EQ(*reader.read_u64(0), 0u);  // zero width needs no bits
}

TEST(BitReaderTest, ReadBytesLeftAlignsTheTail) {
    BitReader reader(kABCD);
    auto bytes = reader.read_bytes(12);
    ASSERT_TRUE(bytes.ok());
    EXPECT_EQ(*bytes, (std::vector<std::uint8_t>{0xAB, 0xC0}));
    EXPECT_EQ(reader.position(), 12u);
}

TEST(BitReaderTest, ReadBytesFailureNamesTheFailingChunk) {
    BitReader reader(kABCD);
    ASSERT_TRUE(reader.read_u64(4).ok());
    auto bytes = reader.read_bytes(16);
    ASSERT_FALSE(bytes.ok());
    EXPECT_EQ(bytes.error().render(),
              "data truncated: not enough bits while reading section 4 at bit 12 for width 8 (16 bits available)");
    EXPECT_EQ(reader.position(), 12u);

    BitReader tail(kABCD);
    ASSERT_TRUE(tail.read_u64(6).ok());
    auto partial = tail.read_bytes(11);  // one whole byte fits, the 3-bit tail does not
    ASSERT_FALSE(partial.ok());
    EXPECT_EQ(partial.error().text(),
              "not enough bits while reading section 4 at bit 14 for width 3 (16 bits available)");
}

TEST(BitReaderTest, ErrorsLeavePositionAlone) {
    BitReader reader(kABCD);
    ASSERT_TRUE(reader.read_u64(12).ok());
    auto value = reader.read_u64(8);
    ASSERT_FALSE(value.ok());
    EXPECT_EQ(value.error().text(),
              "not enough bits while reading section 4 at bit 12 for width 8 (16 bits available)");
    EXPECT_EQ(reader.position(), 12u);
    auto wide = reader.read_u64(65);
    ASSERT_FALSE(wide.ok());
    EXPECT_EQ(wide.error().text(), "cannot read 65 bits into u64");
}

TEST(BitReaderTest, WideReadsAtEveryAlignmentMatchBitByBit) {
    std::array<std::uint8_t, 24> data{};
    for (std::size_t i = 0; i < data.size(); ++i) data[i] = static_cast<std::uint8_t>(i * 37 + 11);
    const auto bit_at = [&](std::uint64_t p) { return (data[p / 8] >> (7 - p % 8)) & 1u; };
    for (std::uint16_t width = 1; width <= 64; ++width) {
        for (std::uint64_t start = 0; start + width <= data.size() * 8; start += 5) {
            BitReader reader(data);
            ASSERT_TRUE(reader.read_bytes(0).ok());
            if (start > 0) {
                // Skip in chunks the reader accepts.
                std::uint64_t skipped = 0;
                while (skipped < start) {
                    const auto step = static_cast<std::uint16_t>(std::min<std::uint64_t>(64, start - skipped));
                    ASSERT_TRUE(reader.read_u64(step).ok());
                    skipped += step;
                }
            }
            std::uint64_t expected = 0;
            for (std::uint64_t p = start; p < start + width; ++p) expected = (expected << 1) | bit_at(p);
            auto value = reader.read_u64(width);
            ASSERT_TRUE(value.ok());
            EXPECT_EQ(*value, expected) << "width " << width << " at " << start;
        }
    }
}

TEST(BitReaderTest, FullWidthAndEmptyBuffer) {
    const std::array<std::uint8_t, 8> ones = {0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF};
    BitReader reader(ones);
    EXPECT_EQ(*reader.read_u64(64), 18446744073709551615u);
    BitReader empty(std::span<const std::uint8_t>{});
    EXPECT_EQ(*empty.read_u64(0), 0u);
    EXPECT_FALSE(empty.read_u64(1).ok());
    EXPECT_TRUE(empty.read_bytes(0)->empty());
}

}  // namespace
}  // namespace corvane

#include <gtest/gtest.h>

#include <cstdint>
#include <limits>
#include <vector>

#include "codesign/ByteReader.h"

using codesign::ByteReader;
using codesign::Endian;

namespace {

const std::vector<std::uint8_t> kBytes = {0x01, 0x02, 0x03, 0x04, 0x05, 0x06, 0x07, 0x08, 'i', 'd', 0, 'x'};
constexpr std::uint64_t kMax = std::numeric_limits<std::uint64_t>::max();

TEST(ByteReader, ReadsBothByteOrders) {
    const ByteReader big(kBytes, Endian::Big);
    EXPECT_EQ(big.u16(0), 0x0102);
    EXPECT_EQ(big.u32(0), 0x01020304u);
    EXPECT_EQ(big.u64(0), 0x0102030405060708ull);
    EXPECT_EQ(big.u32le(0), 0x04030201u);

    const ByteReader little(kBytes, Endian::Little);
    EXPECT_EQ(little.u16(1), 0x0302);
    EXPECT_EQ(little.u32(4), 0x08070605u);
    EXPECT_EQ(little.u64(0), 0x0807060504030201ull);
    EXPECT_EQ(little.u32be(4), 0x05060708u);
    EXPECT_EQ(little.u8(3), 0x04);
}

TEST(ByteReader, RefusesEveryReadThatDoesNotFit) {
    const ByteReader r(kBytes);
    EXPECT_EQ(r.u32(8), 0x69640078u);  // the last four bytes
    EXPECT_FALSE(r.u32(9));
    EXPECT_FALSE(r.u64(5));
    EXPECT_FALSE(r.u8(12));
    // Offsets near 2^64 must not wrap round to small ones.
    EXPECT_FALSE(r.u32(kMax));
    EXPECT_FALSE(r.u32(kMax - 2));
    EXPECT_FALSE(r.span(4, kMax));
    EXPECT_FALSE(r.span(kMax, 2));
    EXPECT_FALSE(r.contains(1, kMax));
}

TEST(ByteReader, SubRangesStayInsideTheirParent) {
    const ByteReader r(kBytes, Endian::Little);
    auto sub = r.sub(4, 4);
    ASSERT_TRUE(sub);
    EXPECT_EQ(sub->size(), 4u);
    EXPECT_EQ(sub->endian(), Endian::Little);
    EXPECT_EQ(sub->u32(0), 0x08070605u);
    EXPECT_FALSE(sub->u8(4));  // the parent's next byte is not visible
    EXPECT_FALSE(r.sub(10, 3));
    EXPECT_TRUE(r.from(12));   // an empty tail is fine
    EXPECT_EQ(r.from(12)->size(), 0u);
    EXPECT_FALSE(r.from(13));
}

TEST(ByteReader, StringsMustEndInsideTheView) {
    const ByteReader r(kBytes);
    EXPECT_EQ(r.cString(8), "id");
    EXPECT_EQ(r.cString(10), "");
    EXPECT_FALSE(r.cString(11));  // "x" runs to the end without a NUL
    EXPECT_FALSE(r.cString(12));
    EXPECT_FALSE(r.sub(8, 2)->cString(0));  // the NUL lies just outside
}

TEST(CheckedArithmetic, ReportsOverflow) {
    EXPECT_EQ(codesign::checkedAdd(kMax - 1, 1), kMax);
    EXPECT_FALSE(codesign::checkedAdd(kMax, 1));
    EXPECT_EQ(codesign::checkedMul(1ull << 32, (1ull << 32) - 1), ((1ull << 32) - 1) << 32);
    EXPECT_FALSE(codesign::checkedMul(1ull << 32, 1ull << 32));
    EXPECT_TRUE(codesign::rangeFits(10, 0, 10));
    EXPECT_FALSE(codesign::rangeFits(11, 0, 10));
}

}  // namespace

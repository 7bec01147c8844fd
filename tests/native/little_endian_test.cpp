#include "rules/little_endian.h"

#include <gtest/gtest.h>

#include <cstdint>

TEST(LittleEndian, ReadsOnlyWhatLiesInsideTheLength)
{
    const unsigned char bytes[] = {0x01, 0x02, 0x03, 0x04, 0x05, 0x06, 0x07, 0x08, 0x09};
    uint16_t v16 = 0;
    uint32_t v32 = 0;
    uint64_t v64 = 0;
    ASSERT_TRUE(rules::ReadLe16(bytes, sizeof bytes, 7, &v16));
    EXPECT_EQ(v16, 0x0908u);
    ASSERT_TRUE(rules::ReadLe32(bytes, sizeof bytes, 0, &v32));
    EXPECT_EQ(v32, 0x04030201u);
    ASSERT_TRUE(rules::ReadLe64(bytes, sizeof bytes, 1, &v64));
    EXPECT_EQ(v64, 0x0908070605040302ull);

    v32 = 0xAAAAAAAAu;
    EXPECT_FALSE(rules::ReadLe16(bytes, sizeof bytes, 8, &v16));
    EXPECT_FALSE(rules::ReadLe32(bytes, sizeof bytes, 6, &v32));
    EXPECT_FALSE(rules::ReadLe64(bytes, sizeof bytes, 2, &v64));
    EXPECT_FALSE(rules::ReadLe32(bytes, sizeof bytes, UINT64_MAX - 1, &v32));  // no wrap-around
    EXPECT_FALSE(rules::ReadLe32(bytes, 0, 0, &v32));
    EXPECT_EQ(v32, 0xAAAAAAAAu);  // untouched on failure
}

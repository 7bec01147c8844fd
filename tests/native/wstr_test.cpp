#include "win/wstr.h"

#include <gtest/gtest.h>

TEST(Wstr, CaseMappingTouchesAsciiLettersOnly)
{
    EXPECT_EQ(win::AsciiUpper(L"kavro\u00e9\u00df-z"), L"KAVRO\u00e9\u00df-Z");
    EXPECT_EQ(win::AsciiLower(L"UPDATE.EXE\u00c9"), L"update.exe\u00c9");
}

TEST(Wstr, DecimalWritesEveryDigit)
{
    EXPECT_EQ(win::Decimal(0), L"0");
    EXPECT_EQ(win::Decimal(4294967295u), L"4294967295");
    EXPECT_EQ(win::Decimal(18446744073709551615ull), L"18446744073709551615");
}

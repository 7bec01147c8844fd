#include "rules/wstr.h"

#include <gtest/gtest.h>

TEST(Wstr, CaseMappingTouchesAsciiLettersOnly)
{
    EXPECT_EQ(rules::AsciiUpper(L"kavro\u00e9\u00df-z"), L"KAVRO\u00e9\u00df-Z");
    EXPECT_EQ(rules::AsciiLower(L"UPDATE.EXE\u00c9"), L"update.exe\u00c9");
}

TEST(Wstr, DecimalWritesEveryDigit)
{
    EXPECT_EQ(rules::Decimal(0), L"0");
    EXPECT_EQ(rules::Decimal(4294967295u), L"4294967295");
    EXPECT_EQ(rules::Decimal(18446744073709551615ull), L"18446744073709551615");
}

// The one decimal reading behind Content-Length, Size=, Rollout=, the package record's revision
// and the packer's arguments, in the wide and the narrow form alike.
TEST(Wstr, DecimalReadingTakesDigitsUpToTheLimitOnly)
{
    struct Case {
        const char* text;
        unsigned long long limit;
        bool ok;
        unsigned long long value;
    };
    const Case cases[] = {
        {"0", 0, true, 0},
        {"7", 7, true, 7},
        {"8", 7, false, 0},
        {"0007", 7, true, 7},
        {"100", 100, true, 100},
        {"101", 100, false, 0},
        {"18446744073709551615", ~0ull, true, ~0ull},
        {"18446744073709551616", ~0ull, false, 0},  // one past 64 bits: refused, not wrapped
        {"99999999999999999999", ~0ull, false, 0},
        {"", ~0ull, false, 0},
        {"-1", ~0ull, false, 0},
        {"+1", ~0ull, false, 0},
        {" 1", ~0ull, false, 0},
        {"1 ", ~0ull, false, 0},
        {"1e3", ~0ull, false, 0},
        {"12.5", ~0ull, false, 0},
        {"/", ~0ull, false, 0},  // the characters either side of the digits
        {":", ~0ull, false, 0},
    };
    for (const Case& c : cases) {
        const std::string narrow = c.text;
        const std::wstring wide(narrow.begin(), narrow.end());
        unsigned long long fromNarrow = 12345, fromWide = 12345;
        EXPECT_EQ(rules::ParseDecimal(narrow.data(), narrow.size(), c.limit, &fromNarrow), c.ok)
            << c.text;
        EXPECT_EQ(rules::ParseDecimal(wide.data(), wide.size(), c.limit, &fromWide), c.ok)
            << c.text;
        EXPECT_EQ(fromNarrow, c.ok ? c.value : 12345) << c.text;
        EXPECT_EQ(fromWide, fromNarrow) << c.text;
    }
    // A digit beyond ASCII is no digit.
    unsigned long long value = 0;
    EXPECT_FALSE(rules::ParseDecimal(L"\u0661", 1, ~0ull, &value));
}

TEST(Wstr, RevisionAndRolloutFormsAreTheReadersForThePackerToo)
{
    struct Case {
        const char* text;
        bool revision;
        bool rollout;
    };
    const Case cases[] = {
        {"1", true, true},           {"100", true, true},          {"101", true, false},
        {"0", false, true},          {"007", false, true},         {"07", false, true},
        {"2147483647", true, false}, {"2147483648", false, false}, {"", false, false},
        {"-5", false, false},        {"12.5", false, false},       {"50%", false, false},
    };
    for (const Case& c : cases) {
        const std::string text = c.text;
        unsigned long long value = 0;
        EXPECT_EQ(rules::ParseRevision(text.data(), text.size(), &value), c.revision) << c.text;
        EXPECT_EQ(rules::ParseRolloutPercent(text.data(), text.size(), &value), c.rollout)
            << c.text;
    }
}

TEST(Wstr, OneCharacterCaseMappingIsTheStringsInBothWidths)
{
    for (int c = 0; c < 0x180; ++c) {
        const auto wide = static_cast<wchar_t>(c);
        EXPECT_EQ(rules::AsciiUpper(std::wstring(1, wide)),
                  std::wstring(1, rules::AsciiUpperChar(wide)));
        EXPECT_EQ(rules::AsciiLower(std::wstring(1, wide)),
                  std::wstring(1, rules::AsciiLowerChar(wide)));
        if (c < 0x80) {
            const auto narrow = static_cast<char>(c);
            EXPECT_EQ(static_cast<wchar_t>(rules::AsciiUpperChar(narrow)),
                      rules::AsciiUpperChar(wide));
            EXPECT_EQ(static_cast<wchar_t>(rules::AsciiLowerChar(narrow)),
                      rules::AsciiLowerChar(wide));
        }
    }
    // Bytes of UTF-8 sequences are never letters.
    EXPECT_EQ(rules::AsciiLowerChar(static_cast<char>(0xC3)), static_cast<char>(0xC3));
}

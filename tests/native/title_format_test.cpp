#include "ui/title_format.h"

#include <gtest/gtest.h>

namespace {

struct TitleCase {
    const wchar_t* text;
    const wchar_t* expected;
};

// The product name holds a "%s" and a "%%" itself: it is inserted as it stands, never rescanned.
const wchar_t kProduct[] = L"Kavro 5%s%%";

const TitleCase kCases[] = {
    {L"", L""},
    {L"Update available", L"Update available"},
    {L"%s Update", L"Kavro 5%s%% Update"},
    {L"Mise \u00e0 jour de %s", L"Mise \u00e0 jour de Kavro 5%s%%"},
    {L"%s and %s", L"Kavro 5%s%% and %s"},
    {L"%s%s", L"Kavro 5%s%%%s"},
    {L"%d %s", L"%d Kavro 5%s%%"},
    {L"%n%n%n", L"%n%n%n"},
    {L"%x %p %ls %S %10s", L"%x %p %ls %S %10s"},
    {L"100%% done", L"100% done"},
    {L"%%s then %s", L"%s then Kavro 5%s%%"},
    {L"%s 50%%", L"Kavro 5%s%% 50%"},
    {L"trailing %", L"trailing %"},
    {L"%", L"%"},
    {L"%%%", L"%%"},
    {L"%%%s", L"%Kavro 5%s%%"},
    {L"tab\there\r\nline", L"tab\there\r\nline"},
};

TEST(FormatTitle, ReplacesOnlyTheFirstStringConversion)
{
    for (const TitleCase& c : kCases) {
        EXPECT_EQ(ui::FormatTitle(c.text, kProduct), c.expected)
            << "title text: " << testing::PrintToString(std::wstring(c.text));
    }
}

TEST(FormatTitle, EmptyProductNameLeavesNothingInItsPlace)
{
    EXPECT_EQ(ui::FormatTitle(L"[%s]", L""), L"[]");
}

TEST(FormatTitle, EmbeddedNullsAndLongTextsStayWithinTheirLength)
{
    const std::wstring withNull(L"a%\0s%s", 6);
    EXPECT_EQ(ui::FormatTitle(withNull, L"P"), std::wstring(L"a%\0sP", 5));
    const std::wstring many(1000, L'%');
    EXPECT_EQ(ui::FormatTitle(many, L"P"), std::wstring(500, L'%'));
}

}  // namespace

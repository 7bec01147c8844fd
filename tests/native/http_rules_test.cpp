#include "sys/http_rules.h"

#include <gtest/gtest.h>

#include <set>
#include <string>

namespace {

TEST(HttpRules, OnlyTheFiveRedirectStatusesAreFollowed)
{
    for (unsigned long status : {301ul, 302ul, 303ul, 307ul, 308ul})
        EXPECT_TRUE(sys::IsRedirectStatus(status)) << status;
    for (unsigned long status : {200ul, 206ul, 300ul, 304ul, 305ul, 306ul, 309ul, 407ul, 0ul})
        EXPECT_FALSE(sys::IsRedirectStatus(status)) << status;
}

TEST(HttpRules, CountsAreWholeDecimalNumbersThatFit)
{
    const struct {
        const wchar_t* text;
        bool ok;
        unsigned long long value;
    } cases[] = {
        {L"0", true, 0},
        {L"1000000", true, 1000000},
        {L"9999999999999999999", true, 9999999999999999999ull},  // 19 digits fit
        {L"18446744073709551615", false, 0},                     // 20 digits: refused, not wrapped
        {L"", false, 0},
        {L"-1", false, 0},
        {L"+1", false, 0},
        {L" 1", false, 0},
        {L"1 ", false, 0},
        {L"12a", false, 0},
        {L"0x10", false, 0},
    };
    for (const auto& c : cases) {
        unsigned long long value = 7;
        EXPECT_EQ(sys::ParseCount(c.text, &value), c.ok)
            << testing::PrintToString(std::wstring(c.text));
        if (c.ok) EXPECT_EQ(value, c.value);
    }
}

// A resumed answer is joined to our bytes only when it starts exactly where they end and runs
// to the end of the file it says it belongs to.
TEST(HttpRules, ContentRangeMustContinueExactlyToTheEnd)
{
    const struct {
        const wchar_t* range;
        unsigned long long first;
        bool ok;
        unsigned long long total;
    } cases[] = {
        {L"bytes 900000-999999/1000000", 900000, true, 1000000},
        {L"bytes 0-0/1", 0, true, 1},
        {L"bytes 900000-999999/1000000", 899999, false, 0},   // not where ours ends
        {L"bytes 900000-999998/1000000", 900000, false, 0},   // stops short of the end
        {L"bytes 900000-1000000/1000000", 900000, false, 0},  // past the end
        {L"bytes 900000-999999/*", 900000, false, 0},         // unknown length
        {L"bytes */1000000", 900000, false, 0},
        {L"bytes 900000-/1000000", 900000, false, 0},
        {L"items 900000-999999/1000000", 900000, false, 0},
        {L"bytes=900000-999999/1000000", 900000, false, 0},
        {L"bytes -999999/1000000", 900000, false, 0},
        {L"bytes 5-4/5", 5, false, 0},                                 // a start at the end
        {L"bytes 5-3/4", 5, false, 0},                                 // a start past the end
        {L"bytes 0-9999999999/10000000000", 0, true, 10000000000ull},  // a long last
        {L"bytes 0-18446744073709551615/0", 0, false, 0},              // a last that wraps
        {L"", 0, false, 0},
    };
    for (const auto& c : cases) {
        unsigned long long total = 0;
        const bool ok = sys::ParseContentRange(c.range, c.first, &total);
        EXPECT_EQ(ok, c.ok) << testing::PrintToString(std::wstring(c.range)) << " from " << c.first;
        if (c.ok) EXPECT_EQ(total, c.total);
    }
}

TEST(HttpRules, OnlyStrongValidatorsJoinRanges)
{
    EXPECT_EQ(sys::ResumeValidator(L"\"abc\"", L"Mon"), L"\"abc\"");
    EXPECT_EQ(sys::ResumeValidator(L"W/\"abc\"", L"Mon"), L"Mon");  // weak: the date instead
    EXPECT_EQ(sys::ResumeValidator(L"", L"Mon"), L"Mon");
    EXPECT_EQ(sys::ResumeValidator(L"W/\"abc\"", L""), L"");  // nothing to resume with
    EXPECT_EQ(sys::RangeHeaders(0, L"\"abc\""), L"");
    EXPECT_EQ(sys::RangeHeaders(900000, L"\"abc\""),
              L"Range: bytes=900000-\r\nIf-Range: \"abc\"\r\n");
}

// Size= holds the announced length to itself; without it, the limit does; no length announced
// leaves the body to be counted as it arrives.
TEST(HttpRules, AnnouncedLengthsAreHeldToSizeOrTheLimit)
{
    sys::DownloadLimits sized;
    sized.expectedBytes = 1000;
    sys::DownloadLimits bounded;
    bounded.maxBytes = 5000;
    const struct {
        unsigned long long total;
        const sys::DownloadLimits& limits;
        bool allowed;
    } cases[] = {
        {0, sized, true},   {1000, sized, true},   {999, sized, false},   {1001, sized, false},
        {0, bounded, true}, {5000, bounded, true}, {4999, bounded, true}, {5001, bounded, false},
    };
    for (const auto& c : cases)
        EXPECT_EQ(sys::IsLengthAllowed(c.total, c.limits), c.allowed)
            << c.total << " against " << c.limits.expectedBytes << "/" << c.limits.maxBytes;
    EXPECT_EQ(sys::DownloadLimits().maxBytes, 2ull << 30) << "twice the packer's largest payload";
}

TEST(HttpRules, EveryFaultHasItsOwnName)
{
    std::set<std::wstring> names;
    for (int i = static_cast<int>(sys::NetFault::None);
         i <= static_cast<int>(sys::NetFault::Stopped); ++i)
        names.insert(sys::FaultName(static_cast<sys::NetFault>(i)));
    EXPECT_EQ(names.size(), static_cast<size_t>(sys::NetFault::Stopped) + 1);
    // The trail's words, which support desks and the scenarios read.
    EXPECT_EQ(std::wstring(sys::FaultName(sys::NetFault::ServerError)), L"server error");
    EXPECT_EQ(std::wstring(sys::FaultName(sys::NetFault::CertExpired)),
              L"certificate refused, expired");
    EXPECT_EQ(std::wstring(sys::FaultName(sys::NetFault::ProxyAuth)), L"proxy refused");
    EXPECT_EQ(std::wstring(sys::FaultName(sys::NetFault::Cut)), L"cut");
}

}  // namespace

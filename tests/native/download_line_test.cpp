#include "ui/download_line.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <set>
#include <string>
#include <vector>

namespace {

using ui::LineText;
using ui::TimeLeft;
using Unit = ui::TimeLeft::Unit;

const wchar_t* const kLanguages[] = {L"English", L"Spanish", L"French", L"Portuguese"};

std::wstring Said(TimeLeft left)
{
    switch (left.unit) {
    case Unit::None: return L"-";
    case Unit::Seconds: return std::to_wstring(left.count) + L"s";
    case Unit::Minutes: return std::to_wstring(left.count) + L"m";
    case Unit::Hours: return std::to_wstring(left.count) + L"h";
    }
    return L"?";
}

TEST(DownloadLineTime, RoundsToTheUnitTheLineSaysItIn)
{
    const struct {
        unsigned long long seconds;
        const wchar_t* said;
    } cases[] = {
        {0, L"5s"},
        {5, L"5s"},
        {6, L"10s"},
        {51, L"55s"},
        {55, L"55s"},
        {56, L"1m"},
        {89, L"1m"},
        {90, L"2m"},
        {3569, L"59m"},
        {3570, L"1h"},
        {5399, L"1h"},
        {5400, L"2h"},
        {99 * 3600 + 1799, L"99h"},
        {99 * 3600 + 1800, L"-"},
        {~0ull, L"-"},
    };
    for (const auto& c : cases) EXPECT_EQ(Said(ui::RoundTimeLeft(c.seconds)), c.said) << c.seconds;
}

TEST(DownloadLineText, FormsInEachCase)
{
    const std::vector<std::wstring> english = ui::LineTexts({}, L"English");
    const std::vector<std::wstring> spanish = ui::LineTexts({}, L"Spanish");
    std::vector<std::wstring> own = english;
    own[static_cast<size_t>(LineText::BytesOf)] = L"%2 / %1 (%3%)";
    own[static_cast<size_t>(LineText::SecondsLeft)] = L"soon";
    const struct {
        const std::vector<std::wstring>* texts;
        const wchar_t* received;
        const wchar_t* total;
        TimeLeft left;
        const wchar_t* line;
    } cases[] = {
        {&english, L"3.2 MB", L"12.9 MB", {}, L"3.2 MB of 12.9 MB"},
        {&english, L"3.2 MB", L"", {Unit::Seconds, 10}, L"3.2 MB received"},
        {&english,
         L"3.2 MB",
         L"12.9 MB",
         {Unit::Seconds, 10},
         L"3.2 MB of 12.9 MB \u2013 about 10 seconds left"},
        {&english,
         L"1 KB",
         L"2 KB",
         {Unit::Minutes, 1},
         L"1 KB of 2 KB \u2013 about 1 minute left"},
        {&english,
         L"1 KB",
         L"2 KB",
         {Unit::Minutes, 3},
         L"1 KB of 2 KB \u2013 about 3 minutes left"},
        {&english, L"1 KB", L"2 KB", {Unit::Hours, 1}, L"1 KB of 2 KB \u2013 about 1 hour left"},
        {&english, L"1 KB", L"2 KB", {Unit::Hours, 12}, L"1 KB of 2 KB \u2013 about 12 hours left"},
        {&spanish,
         L"3,2 MB",
         L"12,9 MB",
         {Unit::Seconds, 10},
         L"3,2 MB de 12,9 MB \u2013 quedan unos 10 segundos"},
        {&spanish, L"3,2 MB", L"", {}, L"3,2 MB recibidos"},
        // An administrator's own texts: figures where they say, anything else as written, and
        // a figure is never read as a pattern itself.
        {&own, L"%2", L"9 MB", {Unit::Seconds, 5}, L"9 MB / %2 (%3%) \u2013 soon"},
    };
    for (const auto& c : cases)
        EXPECT_EQ(ui::DownloadLine(*c.texts, c.received, c.total, c.left), c.line) << c.line;
}

TEST(DownloadLineText, BuiltInTextsKeysAndOverrides)
{
    std::set<std::wstring> keys;
    for (size_t i = 0; i < ui::kLineTextCount; ++i) {
        const auto text = static_cast<LineText>(i);
        EXPECT_TRUE(keys.insert(ui::LineTextKey(text)).second) << i;
        const std::wstring english = ui::BuiltInLineText(text, L"English");
        for (const wchar_t* language : kLanguages) {
            // Every translation keeps the figures the English text has, and no other.
            const std::wstring own = ui::BuiltInLineText(text, language);
            for (const wchar_t* figure : {L"%1", L"%2"})
                EXPECT_EQ(own.find(figure) == std::wstring::npos,
                          english.find(figure) == std::wstring::npos)
                    << i << " " << language;
        }
    }
    EXPECT_EQ(ui::LineTextKey(LineText::BytesOf), std::wstring(L"DownloadedOf"));
    EXPECT_EQ(ui::BuiltInLineText(LineText::BytesOf, L"German"), std::wstring(L"%1 of %2"));
    EXPECT_EQ(ui::BuiltInLineText(LineText::BytesSoFar, L"French"), std::wstring(L"%1 re\u00e7us"));

    // Given texts win; an empty or missing one is the language's own.
    std::vector<std::wstring> given(2);
    given[1] = L"%1 so far";
    const std::vector<std::wstring> texts = ui::LineTexts(given, L"Portuguese");
    ASSERT_EQ(texts.size(), ui::kLineTextCount);
    EXPECT_EQ(texts[0], L"%1 de %2");
    EXPECT_EQ(texts[1], L"%1 so far");
    EXPECT_EQ(texts[6], L"faltam cerca de %1 horas");
}

// A download fed to the estimate in steps of `stepMs`, from `startMs` (a tick counter that may
// wrap); what the line said after each step.
struct Feed {
    ui::TimeLeftEstimate estimate;
    std::uint32_t now;
    unsigned long long received;
    unsigned long long total;

    std::vector<TimeLeft> Run(int steps, std::uint32_t stepMs, unsigned long long bytesPerStep)
    {
        std::vector<TimeLeft> said;
        for (int i = 0; i < steps; ++i) {
            now += stepMs;
            received += bytesPerStep;
            if (received > total && total) received = total;
            estimate.Add(now, received, total);
            said.push_back(estimate.Shown());
        }
        return said;
    }
};

unsigned long long Seconds(TimeLeft left)
{
    const unsigned long long unit = left.unit == Unit::Hours     ? 3600
                                    : left.unit == Unit::Minutes ? 60
                                                                 : 1;
    return left.count * unit;
}

TEST(DownloadLineTime, SteadyDownloadSettlesThenCountsDownToTheEnd)
{
    // 400 KB/s for 10 MB, the tick counter wrapping on the way.
    Feed feed{{}, 0xFFFFF000u, 0, 10000000};
    feed.estimate.Add(feed.now, 0, feed.total);
    const std::vector<TimeLeft> said = feed.Run(110, 250, 100000);
    // Nothing in the first three seconds of data.
    for (int i = 0; i < 11; ++i) EXPECT_EQ(said[i].unit, Unit::None) << i;
    // Then about 22 s, said as 25, and from there only down.
    EXPECT_EQ(Said(said[11]), L"25s");
    for (size_t i = 12; i < said.size(); ++i) {
        if (said[i].unit == Unit::None) {
            EXPECT_GE(feed.received, feed.total) << i;
            continue;
        }
        EXPECT_LE(Seconds(said[i]), Seconds(said[i - 1])) << i;
    }
    EXPECT_EQ(said.back().unit, Unit::None) << "nothing left, nothing said";
}

TEST(DownloadLineTime, ResumedDownloadCountsOnlyWhatItFetches)
{
    // 9 MB held of 10 MB, then 100 KB/s: 7 s left after three seconds, not a moment.
    Feed feed{{}, 1000, 9000000, 10000000};
    feed.estimate.Add(feed.now, feed.received, feed.total);
    const std::vector<TimeLeft> said = feed.Run(12, 250, 25000);
    EXPECT_EQ(said[10].unit, Unit::None);
    EXPECT_EQ(Said(said[11]), L"10s");
}

TEST(DownloadLineTime, UnevenRateHoldsItsFigureAndARealSlowdownRaisesIt)
{
    // 1 MB of 100 MB a second on average, in alternating quick and slow quarters.
    Feed feed{{}, 0, 0, 100000000};
    feed.estimate.Add(0, 0, feed.total);
    std::vector<TimeLeft> said;
    for (int i = 0; i < 40; ++i) {
        const std::vector<TimeLeft> step = feed.Run(1, 250, i % 2 ? 150000 : 350000);
        said.push_back(step[0]);
    }
    ASSERT_NE(said.back().unit, Unit::None);
    for (size_t i = 13; i < said.size(); ++i)
        EXPECT_LE(Seconds(said[i]), Seconds(said[i - 1])) << i << " " << Said(said[i]);
    // A quarter of the rate from now on: within ten seconds the figure says so.
    const TimeLeft before = said.back();
    const std::vector<TimeLeft> slower = feed.Run(40, 250, 62500);
    EXPECT_GT(Seconds(slower.back()), 2 * Seconds(before)) << Said(slower.back());
}

TEST(DownloadLineTime, NoTotalOrAFreshStartSaysNothing)
{
    Feed unknown{{}, 0, 0, 0};
    for (const TimeLeft& left : unknown.Run(40, 250, 100000)) EXPECT_EQ(left.unit, Unit::None);

    // The file started over (fewer bytes than before): three seconds of silence again.
    Feed feed{{}, 0, 0, 10000000};
    feed.Run(20, 250, 50000);
    ASSERT_NE(feed.estimate.Shown().unit, Unit::None);
    feed.received = 0;
    const std::vector<TimeLeft> again = feed.Run(13, 250, 50000);
    EXPECT_EQ(again[0].unit, Unit::None);
    EXPECT_EQ(again[11].unit, Unit::None);
    EXPECT_NE(again[12].unit, Unit::None);

    // Notes closer together than the timer can tell apart change nothing.
    Feed quick{{}, 0, 0, 10000000};
    quick.Run(20, 250, 50000);
    const TimeLeft settled = quick.estimate.Shown();
    quick.Run(50, 1, 0);
    EXPECT_EQ(Said(quick.estimate.Shown()), Said(settled));
    // But the end is the end, however soon it comes.
    quick.estimate.Add(quick.now + 50, quick.total, quick.total);
    EXPECT_EQ(quick.estimate.Shown().unit, Unit::None);
}

}  // namespace

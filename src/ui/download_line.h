// The line of the downloading view between the spinner and the bar: how much of the package
// has arrived and, once the rate has settled, about how long the rest takes ("3.2 MB of
// 12.9 MB – about 10 seconds left"). Portable: the texts built in for each language and their
// uistrings.ini keys, the line's form and the estimate of the time left. The byte figures come
// written already, as the user's settings write sizes, by the dialog.
#pragma once
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace ui {

// The line's texts, each under a uistrings.ini key of its own. "%1" stands for a figure ("%2"
// for the total in BytesOf); a text without them is shown as it is.
enum class LineText {
    BytesOf,      // DownloadedOf: "%1 of %2"
    BytesSoFar,   // DownloadedSoFar: "%1 received", when the server gives no length
    SecondsLeft,  // SecondsLeft: "about %1 seconds left"
    MinuteLeft,   // MinuteLeft: "about 1 minute left"
    MinutesLeft,  // MinutesLeft: "about %1 minutes left"
    HourLeft,     // HourLeft: "about 1 hour left"
    HoursLeft,    // HoursLeft: "about %1 hours left"
};
constexpr std::size_t kLineTextCount = static_cast<std::size_t>(LineText::HoursLeft) + 1;

// The uistrings.ini key of a text: "DownloadedOf", "SecondsLeft"...
const wchar_t* LineTextKey(LineText text);
// The text built in for a language folder ("English", "Spanish", "French", "Portuguese";
// English for any other).
const wchar_t* BuiltInLineText(LineText text, const std::wstring& languageFolder);

// About how long the rest takes, in the unit the line says it in. None: nothing is said.
struct TimeLeft {
    enum class Unit { None, Seconds, Minutes, Hours };
    Unit unit = Unit::None;
    unsigned count = 0;
};

// Seconds as the line says them: up to 55 s in steps of 5 (at least 5), then whole minutes
// up to 59, then whole hours up to 99; nothing beyond, where a figure would tell nobody anything.
TimeLeft RoundTimeLeft(unsigned long long seconds);

// The time left, from the figures of one download as they come. The rate is smoothed over a
// few seconds and counts only what this download fetched (a resumed one starts from what it
// held); nothing is said before it has seen kSettleMs of data; a figure falls freely but rises
// only when the rest has really grown longer than the last figure foretold, so the line does
// not flicker between two.
class TimeLeftEstimate {
public:
    static constexpr std::uint32_t kSettleMs = 3000;

    // `nowMs` is a millisecond counter that may wrap (GetTickCount); `total` 0 when unknown.
    void Add(std::uint32_t nowMs, unsigned long long received, unsigned long long total);
    TimeLeft Shown() const { return m_shown; }

private:
    void Begin(std::uint32_t nowMs, unsigned long long received);

    bool m_started = false;
    std::uint32_t m_startMs = 0;
    std::uint32_t m_lastMs = 0;
    unsigned long long m_startReceived = 0;
    unsigned long long m_lastReceived = 0;
    double m_bytesPerMs = 0;  // smoothed, from the first sample on
    TimeLeft m_shown;
    // The estimate when the shown figure was taken, and when.
    double m_takenEstimate = 0;
    std::uint32_t m_takenAtMs = 0;
};

// The line's texts by LineText, complete: an empty or missing one is the language's built-in.
std::vector<std::wstring> LineTexts(const std::vector<std::wstring>& given,
                                    const std::wstring& languageFolder);

// The line: "<received> of <total>", or "<received> received" when `total` is empty, and the
// time left after a dash when there is one. `texts` is complete (LineTexts).
std::wstring DownloadLine(const std::vector<std::wstring>& texts, const std::wstring& received,
                          const std::wstring& total, TimeLeft left);

}  // namespace ui

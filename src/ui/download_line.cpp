#include "ui/download_line.h"

#include "rules/translations.h"
#include "rules/wstr.h"

namespace ui {

namespace {

// One row per text, in the enum's order: its key and its texts.
struct TextRow {
    const wchar_t* key;
    const wchar_t* english;
    const wchar_t* spanish;
    const wchar_t* french;
    const wchar_t* portuguese;
};

const TextRow kTexts[kLineTextCount] = {
    {L"DownloadedOf", L"%1 of %2", L"%1 de %2", L"%1 sur %2", L"%1 de %2"},
    {L"DownloadedSoFar", L"%1 received", L"%1 recibidos", L"%1 re\u00e7us", L"%1 recebidos"},
    {L"SecondsLeft", L"about %1 seconds left", L"quedan unos %1 segundos",
     L"environ %1 secondes restantes", L"faltam cerca de %1 segundos"},
    {L"MinuteLeft", L"about 1 minute left", L"queda cerca de 1 minuto",
     L"environ 1 minute restante", L"falta cerca de 1 minuto"},
    {L"MinutesLeft", L"about %1 minutes left", L"quedan unos %1 minutos",
     L"environ %1 minutes restantes", L"faltam cerca de %1 minutos"},
    {L"HourLeft", L"about 1 hour left", L"queda cerca de 1 hora", L"environ 1 heure restante",
     L"falta cerca de 1 hora"},
    {L"HoursLeft", L"about %1 hours left", L"quedan unas %1 horas", L"environ %1 heures restantes",
     L"faltam cerca de %1 horas"},
};

const TextRow& RowOf(LineText text)
{
    const std::size_t index = static_cast<std::size_t>(text);
    return kTexts[index < kLineTextCount ? index : 0];
}

// A weight of this many milliseconds for the rate so far against each new sample: the rate
// follows a real change within a few seconds and shrugs off one slow or quick moment.
constexpr double kSmoothingMs = 3000;
// Samples closer together than this say more about the timer than about the line.
constexpr std::uint32_t kMinSampleMs = 200;
// A figure rises only when the estimate passes what the last figure taken foretold for now by
// this much: a rounding edge the estimate wavers over is not a reason to change.
constexpr double kRiseFactor = 1.2;

unsigned long long SecondsOf(TimeLeft left)
{
    switch (left.unit) {
    case TimeLeft::Unit::Seconds: return left.count;
    case TimeLeft::Unit::Minutes: return left.count * 60ull;
    case TimeLeft::Unit::Hours: return left.count * 3600ull;
    case TimeLeft::Unit::None: break;
    }
    return 0;
}

// "%1" and "%2" replaced once each, in one pass: a figure never becomes a pattern.
std::wstring FillIn(const std::wstring& pattern, const std::wstring& first,
                    const std::wstring& second = std::wstring())
{
    std::wstring out;
    for (std::size_t i = 0; i < pattern.size(); ++i) {
        const wchar_t next = i + 1 < pattern.size() ? pattern[i + 1] : L'\0';
        if (pattern[i] == L'%' && (next == L'1' || next == L'2')) {
            out += next == L'1' ? first : second;
            ++i;
        } else {
            out += pattern[i];
        }
    }
    return out;
}

const std::wstring& TextOf(const std::vector<std::wstring>& texts, LineText text)
{
    static const std::wstring none;
    const std::size_t index = static_cast<std::size_t>(text);
    return index < texts.size() ? texts[index] : none;
}

}  // namespace

const wchar_t* LineTextKey(LineText text) { return RowOf(text).key; }

const wchar_t* BuiltInLineText(LineText text, const std::wstring& languageFolder)
{
    return rules::InLanguage(RowOf(text), languageFolder);
}

TimeLeft RoundTimeLeft(unsigned long long seconds)
{
    // Past 99 and a half hours, before the rounding below could overflow.
    if (seconds >= 99 * 3600 + 1800) return {};
    if (seconds <= 55)
        return {TimeLeft::Unit::Seconds, seconds <= 5 ? 5u : unsigned((seconds + 4) / 5 * 5)};
    if (seconds < 59 * 60 + 30) {
        const unsigned long long minutes = (seconds + 30) / 60;
        return {TimeLeft::Unit::Minutes, unsigned(minutes)};
    }
    return {TimeLeft::Unit::Hours, unsigned((seconds + 1800) / 3600)};
}

void TimeLeftEstimate::Begin(std::uint32_t nowMs, unsigned long long received)
{
    m_started = true;
    m_startMs = nowMs;
    m_lastMs = nowMs;
    m_startReceived = received;
    m_lastReceived = received;
    m_bytesPerMs = 0;
    m_shown = TimeLeft();
}

void TimeLeftEstimate::Add(std::uint32_t nowMs, unsigned long long received,
                           unsigned long long total)
{
    // Fewer bytes than before: the file started over, and so does the estimate.
    if (!m_started || received < m_lastReceived) {
        Begin(nowMs, received);
        return;
    }
    // Complete: nothing is left to say, however soon after the last sample the end came.
    if (total != 0 && received >= total) {
        m_shown = TimeLeft();
        return;
    }
    const std::uint32_t elapsed = nowMs - m_lastMs;
    if (elapsed < kMinSampleMs) return;
    const std::uint32_t settling = nowMs - m_startMs;
    if (settling < kSettleMs) {
        // The plain average so far: the smoothing starts from it, not from the first burst.
        m_bytesPerMs = double(received - m_startReceived) / settling;
    } else {
        const double sample = double(received - m_lastReceived) / elapsed;
        m_bytesPerMs += (sample - m_bytesPerMs) * (elapsed / (elapsed + kSmoothingMs));
    }
    m_lastMs = nowMs;
    m_lastReceived = received;

    if (settling < kSettleMs || total <= received || m_bytesPerMs <= 0) {
        m_shown = TimeLeft();
        return;
    }
    const double estimate = double(total - received) / m_bytesPerMs / 1000;
    // Past the longest figure the line says, said as nothing (and no overflow on the way).
    const TimeLeft next = estimate < 1e9
                              ? RoundTimeLeft(static_cast<unsigned long long>(estimate + 0.5))
                              : TimeLeft();
    if (next.unit == TimeLeft::Unit::None) {
        m_shown = next;
        return;
    }
    const double foretold = m_takenEstimate - double(nowMs - m_takenAtMs) / 1000;
    const bool falls = SecondsOf(next) < SecondsOf(m_shown);
    const bool rises = SecondsOf(next) > SecondsOf(m_shown) && estimate > foretold * kRiseFactor;
    if (m_shown.unit == TimeLeft::Unit::None || falls || rises) {
        m_shown = next;
        m_takenEstimate = estimate;
        m_takenAtMs = nowMs;
    }
}

std::vector<std::wstring> LineTexts(const std::vector<std::wstring>& given,
                                    const std::wstring& languageFolder)
{
    std::vector<std::wstring> texts;
    for (std::size_t i = 0; i < kLineTextCount; ++i) {
        const auto text = static_cast<LineText>(i);
        const std::wstring& own = TextOf(given, text);
        texts.push_back(own.empty() ? BuiltInLineText(text, languageFolder) : own);
    }
    return texts;
}

std::wstring DownloadLine(const std::vector<std::wstring>& texts, const std::wstring& received,
                          const std::wstring& total, TimeLeft left)
{
    // Without a total there is no time left to say either.
    if (total.empty()) return FillIn(TextOf(texts, LineText::BytesSoFar), received);
    std::wstring line = FillIn(TextOf(texts, LineText::BytesOf), received, total);
    LineText unit = LineText::SecondsLeft;
    switch (left.unit) {
    case TimeLeft::Unit::None: return line;
    case TimeLeft::Unit::Seconds: unit = LineText::SecondsLeft; break;
    case TimeLeft::Unit::Minutes:
        unit = left.count == 1 ? LineText::MinuteLeft : LineText::MinutesLeft;
        break;
    case TimeLeft::Unit::Hours:
        unit = left.count == 1 ? LineText::HourLeft : LineText::HoursLeft;
        break;
    }
    return line + L" \u2013 " + FillIn(TextOf(texts, unit), rules::Decimal(left.count));
}

}  // namespace ui

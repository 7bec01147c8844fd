#include "rules/control_signature.h"

#include "rules/control_signature_form.h"

namespace rules {
namespace {

// The file as characters: single bytes, or 16-bit units after a UTF-16 mark (the mark itself is
// the first unit, so the body keeps it).
class Units {
public:
    Units(const unsigned char* bytes, size_t length) : m_bytes(bytes), m_length(length)
    {
        if (length >= 2 && bytes[0] == 0xFF && bytes[1] == 0xFE) m_width = 2;
        if (length >= 2 && bytes[0] == 0xFE && bytes[1] == 0xFF) m_width = 2, m_bigEndian = true;
    }
    bool Whole() const { return m_length % m_width == 0; }
    size_t Count() const { return m_length / m_width; }
    size_t Width() const { return m_width; }
    unsigned At(size_t i) const
    {
        if (m_width == 1) return m_bytes[i];
        const unsigned first = m_bytes[2 * i], second = m_bytes[2 * i + 1];
        return m_bigEndian ? (first << 8) | second : (second << 8) | first;
    }
    // Whether `text` (ASCII) stands at `at`, whole.
    bool HasAt(size_t at, const char* text) const
    {
        for (size_t i = 0; text[i] != '\0'; ++i)
            if (at + i >= Count() || At(at + i) != static_cast<unsigned char>(text[i]))
                return false;
        return true;
    }
    // Where the line that starts at `at` ends: its line feed, or the end.
    size_t LineEnd(size_t at) const
    {
        while (at < Count() && At(at) != '\n') ++at;
        return at;
    }
    // The line's text without its line feed and the carriage return before it.
    size_t TextEnd(size_t at, size_t end) const
    {
        return end > at && end < Count() && At(end - 1) == '\r' ? end - 1 : end;
    }

private:
    const unsigned char* m_bytes;
    size_t m_length;
    size_t m_width = 1;
    bool m_bigEndian = false;
};

// The first line start that reads exactly "[Signature]", or Count() when there is none.
size_t FindSignatureLine(const Units& units)
{
    const size_t lineLength = sizeof kSignatureLine - 1;
    for (size_t at = 0; at < units.Count();) {
        const size_t end = units.LineEnd(at);
        if (units.TextEnd(at, end) - at == lineLength && units.HasAt(at, kSignatureLine)) return at;
        at = end + 1;
    }
    return units.Count();
}

int Base64Value(unsigned unit)
{
    for (int i = 0; i < 64; ++i)
        if (static_cast<unsigned char>(kBase64Alphabet[i]) == unit) return i;
    return -1;
}

// The value's characters; false for a unit outside ASCII.
bool AsciiText(const Units& units, size_t from, size_t to, std::wstring* text)
{
    for (size_t i = from; i < to; ++i) {
        const unsigned unit = units.At(i);
        if (unit == 0 || unit > 0x7F) return false;
        *text += static_cast<wchar_t>(unit);
    }
    return true;
}

// After the value: nothing, or one line break and nothing.
bool OnlyALineBreakFrom(const Units& units, size_t at)
{
    if (at < units.Count() && units.At(at) == '\r') ++at;
    if (at < units.Count() && units.At(at) == '\n') ++at;
    return at == units.Count();
}

bool IsLeapYear(std::int64_t year) { return (year % 4 == 0 && year % 100 != 0) || year % 400 == 0; }

int DaysInMonth(std::int64_t year, int month)
{
    static const int kDays[] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
    return month == 2 && IsLeapYear(year) ? 29 : kDays[month - 1];
}

// Days from 1970-01-01 to a date of the proleptic Gregorian calendar.
std::int64_t DaysFromCivil(std::int64_t year, int month, int day)
{
    year -= month <= 2;
    const std::int64_t era = (year >= 0 ? year : year - 399) / 400;
    const std::int64_t yearOfEra = year - era * 400;
    const std::int64_t dayOfYear = (153 * (month + (month > 2 ? -3 : 9)) + 2) / 5 + day - 1;
    const std::int64_t dayOfEra = yearOfEra * 365 + yearOfEra / 4 - yearOfEra / 100 + dayOfYear;
    return era * 146097 + dayOfEra - 719468;
}

// `count` decimal digits at `at`; false for anything else.
bool Digits(const std::wstring& text, size_t at, size_t count, int* value)
{
    *value = 0;
    for (size_t i = at; i < at + count; ++i) {
        if (text[i] < L'0' || text[i] > L'9') return false;
        *value = *value * 10 + static_cast<int>(text[i] - L'0');
    }
    return true;
}

std::wstring TwoDigits(std::int64_t value)
{
    return std::wstring(1, static_cast<wchar_t>(L'0' + value / 10)) +
           static_cast<wchar_t>(L'0' + value % 10);
}

}  // namespace

const wchar_t* DescribeControlForm(ControlForm form)
{
    switch (form) {
    case ControlForm::Signed: return L"signed";
    case ControlForm::Unsigned: return L"unsigned: no line reads [Signature]";
    case ControlForm::EmptyBody: return L"no body before [Signature]";
    case ControlForm::NotOneKey: return L"the line after [Signature] is not PKCS7=<value>";
    case ControlForm::NotBase64: return L"the PKCS7= value is not padded standard base64";
    case ControlForm::BytesAfter: return L"bytes after the signature";
    case ControlForm::OddUtf16Length: return L"a UTF-16 file cut inside a character";
    }
    return L"unsigned: no line reads [Signature]";
}

ControlForm SplitControlFile(const unsigned char* bytes, size_t length, SignedControl* split)
{
    *split = SignedControl();
    const Units units(bytes, length);
    if (!units.Whole()) return ControlForm::OddUtf16Length;
    const size_t line = FindSignatureLine(units);
    if (line == units.Count()) return ControlForm::Unsigned;
    // A line starts at the file's start or after a line feed: a body before it ends in one.
    if (line == 0) return ControlForm::EmptyBody;
    const size_t keyAt = units.LineEnd(line) + 1;
    if (keyAt >= units.Count() || !units.HasAt(keyAt, kKey)) return ControlForm::NotOneKey;
    const size_t valueAt = keyAt + sizeof kKey - 1;
    const size_t end = units.LineEnd(valueAt);
    const size_t valueEnd = units.TextEnd(valueAt, end);
    std::wstring text;
    std::vector<unsigned char> signature;
    if (!AsciiText(units, valueAt, valueEnd, &text) || !DecodeBase64(text, &signature))
        return ControlForm::NotBase64;
    if (!OnlyALineBreakFrom(units, valueEnd)) return ControlForm::BytesAfter;
    split->bodyLength = line * units.Width();
    split->signature = std::move(signature);
    return ControlForm::Signed;
}

bool DecodeBase64(const std::wstring& text, std::vector<unsigned char>* bytes)
{
    bytes->clear();
    if (text.empty() || text.size() % 4 != 0) return false;
    // One or two "=" end the text; any other is refused as no digit below.
    size_t padding = 0;
    if (text[text.size() - 1] == L'=') padding = text[text.size() - 2] == L'=' ? 2 : 1;
    std::vector<unsigned char> out;
    out.reserve(text.size() / 4 * 3);
    for (size_t at = 0; at < text.size(); at += 4) {
        const bool last = at + 4 == text.size();
        const size_t digits = last ? 4 - padding : 4;
        unsigned long group = 0;
        for (size_t i = 0; i < 4; ++i) {
            const int value = i < digits ? Base64Value(static_cast<unsigned>(text[at + i])) : 0;
            if (value < 0) return false;
            group = (group << 6) | static_cast<unsigned long>(value);
        }
        // The bits the padding leaves over are zero in the one true encoding.
        if ((digits == 2 && (group & 0xFFFF) != 0) || (digits == 3 && (group & 0xFF) != 0))
            return false;
        out.push_back(static_cast<unsigned char>(group >> 16));
        if (digits > 2) out.push_back(static_cast<unsigned char>((group >> 8) & 0xFF));
        if (digits > 3) out.push_back(static_cast<unsigned char>(group & 0xFF));
    }
    *bytes = std::move(out);
    return true;
}

BodyForm FormOfBody(const unsigned char* body, size_t length)
{
    const Units units(body, length);
    BodyForm form;
    form.width = units.Width();
    form.bigEndian = units.Width() == 2 && body[0] == 0xFE;
    const size_t count = units.Count();
    form.crlf = count >= 2 && units.At(count - 2) == '\r';
    return form;
}

BodyProblem CheckBodyToSign(const unsigned char* body, size_t length)
{
    const Units units(body, length);
    if (!units.Whole() || units.Count() == 0) return BodyProblem::Empty;
    if (units.At(units.Count() - 1) != '\n') return BodyProblem::NoFinalLineBreak;
    if (FindSignatureLine(units) != units.Count()) return BodyProblem::HoldsSignatureLine;
    return BodyProblem::None;
}

bool ParseUtcTime(const std::wstring& text, std::int64_t* seconds)
{
    // YYYY-MM-DDTHH:MM:SSZ
    if (text.size() != 20 || text[4] != L'-' || text[7] != L'-' || text[10] != L'T' ||
        text[13] != L':' || text[16] != L':' || text[19] != L'Z')
        return false;
    int year = 0, month = 0, day = 0, hour = 0, minute = 0, second = 0;
    if (!Digits(text, 0, 4, &year) || !Digits(text, 5, 2, &month) || !Digits(text, 8, 2, &day) ||
        !Digits(text, 11, 2, &hour) || !Digits(text, 14, 2, &minute) ||
        !Digits(text, 17, 2, &second))
        return false;
    if (month < 1 || month > 12 || day < 1 || day > DaysInMonth(year, month) || hour > 23 ||
        minute > 59 || second > 59)
        return false;
    *seconds = DaysFromCivil(year, month, day) * 86400 + hour * 3600 + minute * 60 + second;
    return true;
}

std::wstring FormatUtcTime(std::int64_t seconds)
{
    std::int64_t days = seconds / 86400, rest = seconds % 86400;
    if (rest < 0) rest += 86400, --days;
    // The inverse of DaysFromCivil.
    days += 719468;
    const std::int64_t era = (days >= 0 ? days : days - 146096) / 146097;
    const std::int64_t dayOfEra = days - era * 146097;
    const std::int64_t yearOfEra =
        (dayOfEra - dayOfEra / 1460 + dayOfEra / 36524 - dayOfEra / 146096) / 365;
    const std::int64_t dayOfYear = dayOfEra - (365 * yearOfEra + yearOfEra / 4 - yearOfEra / 100);
    const std::int64_t shifted = (5 * dayOfYear + 2) / 153;
    const std::int64_t day = dayOfYear - (153 * shifted + 2) / 5 + 1;
    const std::int64_t month = shifted < 10 ? shifted + 3 : shifted - 9;
    const std::int64_t year = yearOfEra + era * 400 + (month <= 2);
    return TwoDigits(year / 100 % 100) + TwoDigits(year % 100) + L"-" + TwoDigits(month) + L"-" +
           TwoDigits(day) + L"T" + TwoDigits(rest / 3600) + L":" + TwoDigits(rest / 60 % 60) +
           L":" + TwoDigits(rest % 60) + L"Z";
}

std::int64_t UnixSecondsFromFileTime(std::uint64_t ticks)
{
    const std::int64_t kSecondsFrom1601To1970 = 11644473600;
    return static_cast<std::int64_t>(ticks / 10000000) - kSecondsFrom1601To1970;
}

bool IsExpired(std::int64_t expires, std::int64_t now) { return now > expires; }

}  // namespace rules

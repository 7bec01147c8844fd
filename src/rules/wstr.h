// Portable string helpers: ASCII case mapping and decimal numbers, each rule written once for
// every room that asks (no <windows.h>). The one-character forms are templates so that the
// packer's UTF-8 text follows the same rule as the program's wide strings.
#pragma once
#include <cstddef>
#include <string>

namespace rules {

// ASCII-only case mapping: A-Z and a-z change, every other character stays.
template <class Char>
constexpr Char AsciiLowerChar(Char c)
{
    return c >= Char('A') && c <= Char('Z') ? static_cast<Char>(c - Char('A') + Char('a')) : c;
}
template <class Char>
constexpr Char AsciiUpperChar(Char c)
{
    return c >= Char('a') && c <= Char('z') ? static_cast<Char>(c - Char('a') + Char('A')) : c;
}
std::wstring AsciiLower(std::wstring text);
std::wstring AsciiUpper(std::wstring text);

// Decimal digits of a number, without the printf machinery std::to_wstring brings along.
std::wstring Decimal(unsigned long long value);

// A whole number written in decimal digits only: one or more of '0'-'9' and nothing else (no
// sign, blank or separator), whose value is at most `limit`. Leading zeros are read as zeros;
// a rule that refuses them says so itself. Anything else, or a value past `limit` (overflow
// included), is false and leaves *value alone.
template <class Char>
bool ParseDecimal(const Char* text, std::size_t length, unsigned long long limit,
                  unsigned long long* value)
{
    if (length == 0) return false;
    unsigned long long number = 0;
    for (std::size_t i = 0; i < length; ++i) {
        if (text[i] < Char('0') || text[i] > Char('9')) return false;
        const auto digit = static_cast<unsigned long long>(text[i] - Char('0'));
        if (digit > limit || number > (limit - digit) / 10) return false;
        number = number * 10 + digit;
    }
    *value = number;
    return true;
}

// A revision as a package record and the packer write it: 1 to 2147483647 in decimal digits,
// without leading zeros.
template <class Char>
bool ParseRevision(const Char* text, std::size_t length, unsigned long long* value)
{
    return length > 0 && text[0] != Char('0') && ParseDecimal(text, length, 2147483647ull, value);
}

// A rollout percentage as the control file's Rollout= and the packer's --rollout take it: one
// to three decimal digits from 0 to 100.
template <class Char>
bool ParseRolloutPercent(const Char* text, std::size_t length, unsigned long long* value)
{
    return length <= 3 && ParseDecimal(text, length, 100, value);
}

}  // namespace rules

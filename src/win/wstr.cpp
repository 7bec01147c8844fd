#include "win/wstr.h"

namespace win {

std::wstring AsciiLower(std::wstring text)
{
    for (auto& c : text)
        if (c >= L'A' && c <= L'Z') c = static_cast<wchar_t>(c - L'A' + L'a');
    return text;
}

std::wstring AsciiUpper(std::wstring text)
{
    for (auto& c : text)
        if (c >= L'a' && c <= L'z') c = static_cast<wchar_t>(c - L'a' + L'A');
    return text;
}

std::wstring Decimal(unsigned long long value)
{
    wchar_t digits[24];
    size_t start = sizeof digits / sizeof digits[0];
    do {
        digits[--start] = static_cast<wchar_t>(L'0' + value % 10);
        value /= 10;
    } while (value);
    return std::wstring(digits + start, digits + sizeof digits / sizeof digits[0]);
}

}  // namespace win

#include "rules/wstr.h"

namespace rules {

std::wstring AsciiLower(std::wstring text)
{
    for (auto& c : text) c = AsciiLowerChar(c);
    return text;
}

std::wstring AsciiUpper(std::wstring text)
{
    for (auto& c : text) c = AsciiUpperChar(c);
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

}  // namespace rules

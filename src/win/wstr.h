// Portable string and path helpers (no <windows.h>).
#pragma once
#include <string>

namespace win {

// ASCII-only case mapping: A-Z and a-z change, every other character stays.
std::wstring AsciiLower(std::wstring text);
std::wstring AsciiUpper(std::wstring text);

// Decimal digits of a number, without the printf machinery std::to_wstring brings along.
std::wstring Decimal(unsigned long long value);

}  // namespace win

#include "win/trail.h"

#include <windows.h>

namespace win {

void Trail(const std::wstring& text)
{
    const std::wstring line = L"Morvane: " + text + L"\n";
    ::OutputDebugStringW(line.c_str());
}

}  // namespace win

// Reads the control file's three keys from arbitrary bytes; ASan reports any read outside
// them. Every value must be one the profile reader could give: at most 259 characters before
// the escapes are converted (converting only shortens), no line feed (a line ends there) and
// no NUL (the reader's strings end there).
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>

#include "app/ini_text.h"

namespace {

void Check(const app::IniText& text, const wchar_t* key, const wchar_t* defaultValue)
{
    const std::wstring raw = text.RawValue(L"KV-Driver", key, defaultValue);
    const std::wstring value = text.Value(L"KV-Driver", key, defaultValue);
    if (raw.size() > app::kValueChars || value.size() > raw.size()) std::abort();
    if (raw.find(L'\n') != std::wstring::npos || raw.find(L'\0') != std::wstring::npos)
        std::abort();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    const app::IniText text(data, size);
    Check(text, L"DownloadUrl", L"");
    Check(text, L"ExePath", L"");
    Check(text, L"Revision", L"0");
    return 0;
}

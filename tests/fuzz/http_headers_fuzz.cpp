// Feeds arbitrary text to the download's header rules: a Content-Range, a Content-Length, the
// validators. What they accept must keep its promise: a resumed answer that starts where our
// file ends and runs to the end of the file, within 64 bits.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>

#include "sys/http_rules.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    // Each byte a character, as WinINet's wide header text carries Latin-1 header bytes.
    std::wstring text(data, data + size);
    unsigned long long count = 0;
    if (sys::ParseCount(text, &count) && (text.empty() || text.size() > 19)) std::abort();

    // The first 8 bytes, when there are, choose where our file ends.
    unsigned long long first = 0;
    for (size_t i = 0; i < size && i < 8; ++i) first = (first << 8) | data[i];
    unsigned long long total = 0;
    if (sys::ParseContentRange(text, first, &total) && !(first < total)) std::abort();
    if (sys::ParseContentRange(text, 0, &total) && total == 0) std::abort();

    const std::wstring validator = sys::ResumeValidator(text, L"Mon, 01 Jan 2026 00:00:00 GMT");
    if (validator.compare(0, 2, L"W/") == 0) std::abort();
    const std::wstring headers = sys::RangeHeaders(count, validator);
    if ((count == 0) != headers.empty()) std::abort();
    return 0;
}

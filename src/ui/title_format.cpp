#include "ui/title_format.h"

namespace ui {

std::wstring FormatTitle(const std::wstring& titleText, const std::wstring& productName)
{
    std::wstring title;
    title.reserve(titleText.size() + productName.size());
    bool substituted = false;
    for (std::size_t i = 0; i < titleText.size(); ++i) {
        const wchar_t c = titleText[i];
        const wchar_t next = i + 1 < titleText.size() ? titleText[i + 1] : L'\0';
        if (c == L'%' && next == L'%') {
            title += L'%';
            ++i;
        } else if (c == L'%' && next == L's' && !substituted) {
            title += productName;
            substituted = true;
            ++i;
        } else {
            title += c;
        }
    }
    return title;
}

}  // namespace ui

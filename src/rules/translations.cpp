#include "rules/translations.h"

namespace rules {

BuiltInLanguage BuiltInLanguageOf(const std::wstring& languageFolder)
{
    if (languageFolder == L"Spanish") return BuiltInLanguage::Spanish;
    if (languageFolder == L"French") return BuiltInLanguage::French;
    if (languageFolder == L"Portuguese") return BuiltInLanguage::Portuguese;
    return BuiltInLanguage::English;
}

}  // namespace rules

// The texts built into the program for the language folders it ships: one rule that picks a
// row's text for a language folder, for every table of built-in texts (the failure reasons,
// the download line, the refused wizard's message). A folder of another name gets English.
#pragma once
#include <string>

namespace rules {

enum class BuiltInLanguage { English, Spanish, French, Portuguese };

BuiltInLanguage BuiltInLanguageOf(const std::wstring& languageFolder);

// `row` has one member a language: english, spanish, french, portuguese.
template <class Row>
const wchar_t* InLanguage(const Row& row, const std::wstring& languageFolder)
{
    switch (BuiltInLanguageOf(languageFolder)) {
    case BuiltInLanguage::Spanish: return row.spanish;
    case BuiltInLanguage::French: return row.french;
    case BuiltInLanguage::Portuguese: return row.portuguese;
    case BuiltInLanguage::English: break;
    }
    return row.english;
}

}  // namespace rules

// The dialog's window title from the settings' title text and the product name.
// Portable (no <windows.h>).
#pragma once
#include <string>

namespace ui {

// The title text comes from a settings file, so it is never handed to a printf-style
// formatter: the first "%s" becomes the product name, "%%" becomes one "%", and every
// other "%" (a second "%s", "%d", "%n", a trailing "%") stays as plain text.
std::wstring FormatTitle(const std::wstring& titleText, const std::wstring& productName);

}  // namespace ui

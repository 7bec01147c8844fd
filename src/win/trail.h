// The diagnostic trail: one line for each decision the program takes, sent to the debugger
// with OutputDebugStringW (DebugView on Windows; WINEDEBUG=warn+seh under Wine 8, +debugstr
// under later Wine). Nothing is written to disk and the user sees nothing. Lines name paths
// and outcomes, never a command line's arguments.
#pragma once
#include <string>

namespace win {

// Sends "Morvane: <text>".
void Trail(const std::wstring& text);

}  // namespace win

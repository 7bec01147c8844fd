// The process's environment variables.
#pragma once
#include <string>

namespace win {

// The variable's whole value, or empty when it is unset. How long a value may be is the
// caller's rule (rules::TemporaryFolder), not a buffer's accident.
std::wstring EnvironmentVariable(const wchar_t* name);

}  // namespace win

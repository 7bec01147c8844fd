// The instance guard's match rule, apart from the process list (portable).
#pragma once
#include <string>

namespace sys {

// Case-sensitive substring test of the own path without its root in another process's image
// path. An empty own path matches nothing: without a root to cut, there is nothing to compare.
bool ImageNameMatches(const std::wstring& imageName, const std::wstring& rootlessOwnPath);

}  // namespace sys

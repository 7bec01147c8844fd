#include "sys/instance_match.h"

namespace sys {

bool ImageNameMatches(const std::wstring& imageName, const std::wstring& rootlessOwnPath)
{
    return !rootlessOwnPath.empty() && imageName.find(rootlessOwnPath) != std::wstring::npos;
}

}  // namespace sys

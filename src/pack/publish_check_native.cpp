// The check judges signatures with the system's own trust provider and fetches with its
// network stack, as Morvane.exe does; a Linux build has neither.
#include <cstdio>

#include "pack/publish_check.h"

namespace pack {

Exit CheckMain(const std::vector<std::string>&)
{
    std::fputs(
        "morvane-pack: check judges signatures as Windows does; run morvane-pack.exe "
        "check on Windows or under Wine\n",
        stderr);
    return Exit::NeedsWindows;
}

}  // namespace pack

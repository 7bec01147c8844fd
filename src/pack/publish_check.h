// morvane-pack check: a control file and its package held, before they are published, to the
// rules every machine applies, by the code Morvane.exe runs. It says what a machine with a
// given installed revision would do: not be offered the update (and why), be asked and
// install, or be asked and fail (with the code the user would be shown).
#pragma once
#include <string>
#include <vector>

#include "pack/pack_exit.h"

namespace pack {

// The options after "check", UTF-8. One line per finding and a final "verdict:" line go to
// stdout. Exit::Done only when a machine would install.
Exit CheckMain(const std::vector<std::string>& options);

}  // namespace pack

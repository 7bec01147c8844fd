// Single-instance guard: is another copy of this executable file running?
#pragma once

namespace sys {

// 1 when another running process's image path contains this executable's path without its
// root (the other processes' paths come in device form), else 0.
int IsAnotherInstanceRunning();

}  // namespace sys

// What morvane-pack ends with. Release scripts test these numbers, so each keeps its value
// for good; a new outcome gets a new number.
#pragma once

namespace pack {

enum class Exit : int {
    Done = 0,          // done; for check: a machine would install the update
    BadArguments = 1,  // bad arguments, or a package or control file that cannot be offered
    NotWritten = 2,    // the package or the signed control file could not be read or written
    NotSigned = 3,     // written, but not signed as asked
    NotOffered = 4,    // check: a machine would not be offered the update
    WouldFail = 5,     // check: a machine would be offered the update and fail it
    NeedsWindows = 6,  // check: only the Windows build judges signatures as a machine does
};

inline int ExitCode(Exit exit) { return static_cast<int>(exit); }

}  // namespace pack

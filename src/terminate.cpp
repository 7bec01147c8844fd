// The C++ runtime's default terminate handler prints the type of an uncaught exception, and
// for that links a whole name demangler and printf with floating point: about 65 KB of the
// executable for a message nobody sees in a program without a console. Ours ends the program
// the same way without the message. (Only GCC's runtime has this hook; an object of the
// executable itself, so it is linked ahead of the runtime's own.)
#include <cstdlib>

#if defined(__GLIBCXX__)

namespace __gnu_cxx {

void __verbose_terminate_handler() { std::abort(); }

}  // namespace __gnu_cxx
#endif

// Two of GCC's runtime hooks, replaced by objects of the executable itself (linked ahead of the
// runtime's own); other runtimes have neither hook and need neither replacement.
//
// The default terminate handler prints the type of an uncaught exception, and for that links
// a whole name demangler and printf with floating point: about 65 KB of the executable for a
// message nobody sees in a program without a console. Ours ends the program the same way
// without the message.
//
// The container and string code reports misuse (a length past max_size, an index out of
// range) through the runtime's __throw_* helpers. The runtime's own build of those helpers
// makes std::logic_error and its kin, whose message is a reference-counted string; that
// drags in a second string implementation and, through it, the random-device code, about
// 80 KB in all. Ours throw exceptions that carry the message as a literal. The program
// catches only std::bad_alloc and everything (...), so what it catches is unchanged: a size
// the allocator cannot meet is still std::bad_alloc, and every other fault still ends the
// worker or the step that met it.
#include <cstdlib>

#if defined(__GLIBCXX__)
#include <bits/functexcept.h>
#include <exception>
#include <new>
#include <typeinfo>

namespace __gnu_cxx {

void __verbose_terminate_handler() { std::abort(); }

}  // namespace __gnu_cxx

namespace {

class LibraryFault : public std::exception {
public:
    explicit LibraryFault(const char* what) noexcept : what_(what ? what : "library fault") {}
    const char* what() const noexcept override { return what_; }

private:
    const char* what_;
};

}  // namespace

namespace std {

void __throw_bad_alloc() { throw bad_alloc(); }
void __throw_bad_array_new_length() { throw bad_array_new_length(); }
void __throw_bad_cast() { throw bad_cast(); }
void __throw_bad_typeid() { throw bad_typeid(); }
void __throw_bad_exception() { throw bad_exception(); }
void __throw_length_error(const char* what) { throw LibraryFault(what); }
void __throw_logic_error(const char* what) { throw LibraryFault(what); }
void __throw_domain_error(const char* what) { throw LibraryFault(what); }
void __throw_invalid_argument(const char* what) { throw LibraryFault(what); }
void __throw_out_of_range(const char* what) { throw LibraryFault(what); }
void __throw_out_of_range_fmt(const char* what, ...) { throw LibraryFault(what); }
void __throw_runtime_error(const char* what) { throw LibraryFault(what); }
void __throw_range_error(const char* what) { throw LibraryFault(what); }
void __throw_overflow_error(const char* what) { throw LibraryFault(what); }
void __throw_underflow_error(const char* what) { throw LibraryFault(what); }

}  // namespace std
#endif

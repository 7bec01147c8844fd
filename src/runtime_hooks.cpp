// The runtime's failure hooks, replaced by objects of the executable itself (linked ahead of
// the runtime's own). Morvane.exe and the extractor are built without exceptions: nothing of
// ours throws or catches, and a fault the code cannot go on from ends the program at once,
// so no step runs on half done. What an input's size decides is checked against a limit
// before it is allocated, or allocated with std::nothrow where running short has a way out.
//
// - Allocation: a request the heap cannot meet ends the program (std::abort, exit code 3);
//   the std::nothrow forms answer null instead.
// - The container and string code reports misuse (a length past max_size, an index out of
//   range) through the runtime's __throw_* helpers; ours end the program. The runtime's own
//   build of those helpers would also drag in a second string implementation and the
//   random-device code, about 80 KB.
// - The default terminate handler prints the type of an uncaught exception, and for that links
//   a name demangler and printf with floating point, about 65 KB, for a message nobody sees in
//   a program without a console. Ours ends the program the same way without it.
#include <cstdlib>
#include <new>

void* operator new(std::size_t size)
{
    void* block = std::malloc(size ? size : 1);
    if (!block) std::abort();
    return block;
}

void* operator new[](std::size_t size) { return ::operator new(size); }

void* operator new(std::size_t size, const std::nothrow_t&) noexcept
{
    return std::malloc(size ? size : 1);
}

void* operator new[](std::size_t size, const std::nothrow_t&) noexcept
{
    return std::malloc(size ? size : 1);
}

// The runtime's own delete forms call free, which matches.

#if defined(__GLIBCXX__)
#include <bits/functexcept.h>

namespace __gnu_cxx {

void __verbose_terminate_handler() { std::abort(); }

}  // namespace __gnu_cxx

namespace std {

void __throw_bad_alloc() { std::abort(); }
void __throw_bad_array_new_length() { std::abort(); }
void __throw_bad_cast() { std::abort(); }
void __throw_bad_typeid() { std::abort(); }
void __throw_bad_exception() { std::abort(); }
void __throw_length_error(const char*) { std::abort(); }
void __throw_logic_error(const char*) { std::abort(); }
void __throw_domain_error(const char*) { std::abort(); }
void __throw_invalid_argument(const char*) { std::abort(); }
void __throw_out_of_range(const char*) { std::abort(); }
void __throw_out_of_range_fmt(const char*, ...) { std::abort(); }
void __throw_runtime_error(const char*) { std::abort(); }
void __throw_range_error(const char*) { std::abort(); }
void __throw_overflow_error(const char*) { std::abort(); }
void __throw_underflow_error(const char*) { std::abort(); }

}  // namespace std
#endif

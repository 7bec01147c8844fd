# Compiler and linker settings shared by every target of a build.
if(WIN32)
  enable_language(RC)
  add_compile_definitions(UNICODE _UNICODE WIN32_LEAN_AND_MEAN NOMINMAX
                          _WIN32_WINNT=0x0601 WINVER=0x0601)
  add_compile_options(-Wall -Wextra -ffunction-sections -fdata-sections)
  # Built without exceptions (src/runtime_hooks.cpp says what ends the program instead), and so
  # without unwind tables: mingw's linker keeps every function that has an unwind entry, used
  # or not, so the tables cost their own size and that of all the dead code they hold.
  add_compile_options($<$<COMPILE_LANGUAGE:C,CXX>:-fno-asynchronous-unwind-tables>
                      $<$<COMPILE_LANGUAGE:CXX>:-fno-exceptions>)
  # Static C and C++ runtime: the executable needs no DLL beyond the system's.
  add_link_options(-static -static-libgcc -static-libstdc++ -Wl,--gc-sections)
  # Programs whose entry is wmain or wWinMain link with -municode (target option).
else()
  add_compile_options(-Wall -Wextra)
  set(MORVANE_SANITIZE -fsanitize=address,undefined -fno-sanitize-recover=undefined
                       -fno-omit-frame-pointer)
  add_compile_options(${MORVANE_SANITIZE})
  add_link_options(${MORVANE_SANITIZE})
  # The standard library's own bounds checks: back() of an empty string or [i] past size()
  # inside a string's in-object buffer stay within memory ASan watches, so only these see them.
  add_compile_definitions(_GLIBCXX_ASSERTIONS)
endif()

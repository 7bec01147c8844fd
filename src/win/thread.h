// Worker threads that nobody joins: started, then left to end on their own.
#pragma once
#include <windows.h>

namespace win {

using ThreadProc = unsigned(__stdcall*)(void*);

// Starts `proc(param)` at normal priority with the default stack and forgets the thread:
// its handle is closed at once, so the thread's resources go when it ends.
// false when no thread could be created.
bool StartDetachedThread(ThreadProc proc, void* param);

}  // namespace win

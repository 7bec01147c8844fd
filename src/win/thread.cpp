#include "win/thread.h"

#include <process.h>

#include "win/handles.h"

namespace win {

bool StartDetachedThread(ThreadProc proc, void* param)
{
    // _beginthreadex rather than CreateThread: the thread uses the C runtime.
    Handle thread(reinterpret_cast<HANDLE>(::_beginthreadex(nullptr, 0, proc, param, 0, nullptr)));
    return thread.valid();
}

}  // namespace win

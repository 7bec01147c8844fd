// Holds a critical section for the life of the object.
#pragma once
#include <windows.h>

namespace win {

class LockGuard {
public:
    explicit LockGuard(CRITICAL_SECTION& lock) : m_lock(lock) { ::EnterCriticalSection(&m_lock); }
    ~LockGuard() { ::LeaveCriticalSection(&m_lock); }
    LockGuard(const LockGuard&) = delete;
    LockGuard& operator=(const LockGuard&) = delete;

private:
    CRITICAL_SECTION& m_lock;
};

}  // namespace win

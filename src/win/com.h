// COM for the calling thread, for as long as the object lives.
#pragma once
#include <objbase.h>

namespace win {

class ComApartment {
public:
    enum Kind : DWORD {
        // For a thread with windows: the dialog, and the objects it hosts.
        SingleThreaded = COINIT_APARTMENTTHREADED,
        // For a thread without windows. Making a single-threaded apartment makes a hidden
        // window, which under Wine loads the display driver and the theme engine; COM runs any
        // apartment-bound object such a thread asks for in a host apartment of its own.
        MultiThreaded = COINIT_MULTITHREADED,
    };

    // When the thread already has an apartment of the other kind, that one stays and this
    // object changes nothing.
    explicit ComApartment(Kind kind = SingleThreaded)
        : m_initialized(SUCCEEDED(::CoInitializeEx(nullptr, kind | COINIT_DISABLE_OLE1DDE)))
    {
    }
    ~ComApartment()
    {
        if (m_initialized) ::CoUninitialize();
    }
    ComApartment(const ComApartment&) = delete;
    ComApartment& operator=(const ComApartment&) = delete;

private:
    bool m_initialized;
};

}  // namespace win

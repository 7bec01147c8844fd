// Move-only owners of Win32 handles, one type per kind of handle, and the guards of DCs,
// selections and locked memory: every owner of the code is here.
#pragma once
#include <windows.h>
#include <wincrypt.h>
#include <wininet.h>

#include <utility>

namespace win {

template <class Traits>
class Unique {
public:
    using Type = typename Traits::Type;
    Unique() = default;
    explicit Unique(Type value) : m_value(value) {}
    ~Unique() { reset(); }
    Unique(const Unique&) = delete;
    Unique& operator=(const Unique&) = delete;
    Unique(Unique&& other) noexcept : m_value(other.release()) {}
    Unique& operator=(Unique&& other) noexcept
    {
        if (this != &other) reset(other.release());
        return *this;
    }
    Type get() const { return m_value; }
    bool valid() const { return m_value != Traits::Invalid(); }
    explicit operator bool() const { return valid(); }
    // Drops what it holds and lends its slot to a call that hands a handle out through a
    // pointer.
    Type* receive()
    {
        reset();
        return &m_value;
    }
    Type release()
    {
        Type value = m_value;
        m_value = Traits::Invalid();
        return value;
    }
    void reset(Type value = Traits::Invalid())
    {
        if (valid()) Traits::Close(m_value);
        m_value = value;
    }

private:
    Type m_value = Traits::Invalid();
};

// Traits of a handle type `T` whose release function `close` is linked in; `kInvalid` is the
// empty value its creating call returns on failure.
enum class Empty { Null, MinusOne };
template <class T, auto close, Empty kInvalid = Empty::Null>
struct LinkedTraits {
    using Type = T;
    static Type Invalid()
    {
        if constexpr (kInvalid == Empty::Null)
            return nullptr;
        else
            return INVALID_HANDLE_VALUE;
    }
    static void Close(Type h) { close(h); }
};

// Handles whose release function is bound at run time (win/syslib.h): each Close, in
// win/syslib.cpp, calls it through that table. (Several are void* alike, so each is a type.)
template <class T>
struct BoundTraits {
    using Type = T;
    static Type Invalid() { return nullptr; }
};
struct InternetTraits : BoundTraits<HINTERNET> {
    static void Close(Type h);
};
struct CertStoreTraits : BoundTraits<HCERTSTORE> {
    static void Close(Type h);
};
struct CryptMessageTraits : BoundTraits<HCRYPTMSG> {
    static void Close(Type h);
};
struct CertContextTraits : BoundTraits<PCCERT_CONTEXT> {
    static void Close(Type h);
};
struct CertChainTraits : BoundTraits<PCCERT_CHAIN_CONTEXT> {
    static void Close(Type h);
};

using Handle = Unique<LinkedTraits<HANDLE, &::CloseHandle>>;  // processes, threads, events
using File = Unique<LinkedTraits<HANDLE, &::CloseHandle, Empty::MinusOne>>;      // CreateFileW's
using FindHandle = Unique<LinkedTraits<HANDLE, &::FindClose, Empty::MinusOne>>;  // FindFirstFileW's
using MemoryDc = Unique<LinkedTraits<HDC, &::DeleteDC>>;            // CreateCompatibleDC results
using GdiObject = Unique<LinkedTraits<HGDIOBJ, &::DeleteObject>>;   // bitmaps, brushes
using Font = Unique<LinkedTraits<HFONT, &::DeleteObject>>;          // CreateFontW results
using Icon = Unique<LinkedTraits<HICON, &::DestroyIcon>>;           // LoadImageW's icons
using GlobalMemory = Unique<LinkedTraits<HGLOBAL, &::GlobalFree>>;  // GlobalAlloc blocks
using MappedView = Unique<LinkedTraits<const void*, &::UnmapViewOfFile>>;  // MapViewOfFile's
using RegKey = Unique<LinkedTraits<HKEY, &::RegCloseKey>>;                 // RegOpenKeyExW results
using LocalMemory = Unique<LinkedTraits<HLOCAL, &::LocalFree>>;  // blocks the system LocalAllocs
using InternetHandle = Unique<InternetTraits>;    // InternetOpenW and InternetOpenUrlW results
using CertStore = Unique<CertStoreTraits>;        // CryptQueryObject's store
using CryptMessage = Unique<CryptMessageTraits>;  // CryptQueryObject's message
using CertContext = Unique<CertContextTraits>;    // a certificate taken from a store
using CertChain = Unique<CertChainTraits>;        // CertGetCertificateChain results

// A window's DC, released with the window it came from.
class WindowDc {
public:
    explicit WindowDc(HWND window) : m_window(window), m_dc(::GetDC(window)) {}
    ~WindowDc()
    {
        if (m_dc) ::ReleaseDC(m_window, m_dc);
    }
    WindowDc(const WindowDc&) = delete;
    WindowDc& operator=(const WindowDc&) = delete;
    HDC get() const { return m_dc; }
    explicit operator bool() const { return m_dc != nullptr; }

private:
    HWND m_window;
    HDC m_dc;
};

// Selects an object into a DC and selects the previous one back on scope exit,
// so a DC is never deleted with our object still selected.
class SelectGuard {
public:
    SelectGuard(HDC dc, HGDIOBJ object) : m_dc(dc), m_previous(::SelectObject(dc, object)) {}
    ~SelectGuard()
    {
        if (m_previous) ::SelectObject(m_dc, m_previous);
    }
    SelectGuard(const SelectGuard&) = delete;
    SelectGuard& operator=(const SelectGuard&) = delete;

private:
    HDC m_dc;
    HGDIOBJ m_previous;
};

// GlobalLock/GlobalUnlock pair over a movable block; get() is null when the lock failed.
class GlobalView {
public:
    explicit GlobalView(HGLOBAL block) : m_block(block), m_data(::GlobalLock(block)) {}
    ~GlobalView()
    {
        if (m_data) ::GlobalUnlock(m_block);
    }
    GlobalView(const GlobalView&) = delete;
    GlobalView& operator=(const GlobalView&) = delete;
    unsigned char* get() const { return static_cast<unsigned char*>(m_data); }

private:
    HGLOBAL m_block;
    void* m_data;
};

// BeginPaint/EndPaint pair.
class PaintDc {
public:
    explicit PaintDc(HWND window) : m_window(window) { ::BeginPaint(window, &m_ps); }
    ~PaintDc() { ::EndPaint(m_window, &m_ps); }
    PaintDc(const PaintDc&) = delete;
    PaintDc& operator=(const PaintDc&) = delete;
    HDC get() const { return m_ps.hdc; }

private:
    HWND m_window;
    PAINTSTRUCT m_ps{};
};

}  // namespace win

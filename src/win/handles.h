// Move-only owners of Win32 handles: one type per release function.
#pragma once
#include <windows.h>
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

struct HandleTraits {
    using Type = HANDLE;
    static Type Invalid() { return nullptr; }
    static void Close(Type h) { ::CloseHandle(h); }
};
struct FileTraits {
    using Type = HANDLE;
    static Type Invalid() { return INVALID_HANDLE_VALUE; }
    static void Close(Type h) { ::CloseHandle(h); }
};
struct FindTraits {
    using Type = HANDLE;
    static Type Invalid() { return INVALID_HANDLE_VALUE; }
    static void Close(Type h) { ::FindClose(h); }
};
struct MemoryDcTraits {
    using Type = HDC;
    static Type Invalid() { return nullptr; }
    static void Close(Type h) { ::DeleteDC(h); }
};
struct GdiTraits {
    using Type = HGDIOBJ;
    static Type Invalid() { return nullptr; }
    static void Close(Type h) { ::DeleteObject(h); }
};
struct GlobalTraits {
    using Type = HGLOBAL;
    static Type Invalid() { return nullptr; }
    static void Close(Type h) { ::GlobalFree(h); }
};
struct RegKeyTraits {
    using Type = HKEY;
    static Type Invalid() { return nullptr; }
    static void Close(Type h) { ::RegCloseKey(h); }
};
struct IconTraits {
    using Type = HICON;
    static Type Invalid() { return nullptr; }
    static void Close(Type h) { ::DestroyIcon(h); }
};

struct ViewTraits {
    using Type = const void*;
    static Type Invalid() { return nullptr; }
    static void Close(Type h) { ::UnmapViewOfFile(h); }
};

// WinINet handles (HINTERNET) close through the run-time-bound table in win/syslib.cpp.
struct InternetTraits {
    using Type = void*;
    static Type Invalid() { return nullptr; }
    static void Close(Type h);
};

using Handle = Unique<HandleTraits>;            // kernel objects: processes, threads, events
using File = Unique<FileTraits>;                // CreateFileW results
using FindHandle = Unique<FindTraits>;          // FindFirstFileW results
using MemoryDc = Unique<MemoryDcTraits>;        // CreateCompatibleDC results
using GdiObject = Unique<GdiTraits>;            // bitmaps, brushes, fonts
using GlobalMemory = Unique<GlobalTraits>;      // GlobalAlloc blocks
using MappedView = Unique<ViewTraits>;          // MapViewOfFile results
using InternetHandle = Unique<InternetTraits>;  // InternetOpenW and InternetOpenUrlW results
using RegKey = Unique<RegKeyTraits>;            // RegOpenKeyExW results

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

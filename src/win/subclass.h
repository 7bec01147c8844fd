// Attaches a C++ object to an existing control window by replacing its window procedure.
#pragma once
#include <windows.h>

namespace win {

class SubclassedWindow {
public:
    SubclassedWindow() = default;
    virtual ~SubclassedWindow() { Detach(); }
    SubclassedWindow(const SubclassedWindow&) = delete;
    SubclassedWindow& operator=(const SubclassedWindow&) = delete;

    // Takes over the window's messages; false when already attached or the window is invalid.
    bool Attach(HWND window);
    // Gives the window its own procedure back (also done when the window is destroyed).
    void Detach();
    HWND hwnd() const { return m_hwnd; }

protected:
    // Handles a message; call Default() for the control's own behaviour.
    virtual LRESULT WindowProc(UINT msg, WPARAM wp, LPARAM lp) { return Default(msg, wp, lp); }
    LRESULT Default(UINT msg, WPARAM wp, LPARAM lp);

private:
    static LRESULT CALLBACK Procedure(HWND window, UINT msg, WPARAM wp, LPARAM lp);

    HWND m_hwnd = nullptr;
    WNDPROC m_previous = nullptr;
};

}  // namespace win

#include "win/subclass.h"

namespace win {

namespace {
const wchar_t kSelfProperty[] = L"Morvane.Subclass";
}

bool SubclassedWindow::Attach(HWND window)
{
    if (m_hwnd || !::IsWindow(window)) return false;
    if (!::SetPropW(window, kSelfProperty, this)) return false;
    m_hwnd = window;
    m_previous = reinterpret_cast<WNDPROC>(::SetWindowLongPtrW(
        window, GWLP_WNDPROC, reinterpret_cast<LONG_PTR>(&SubclassedWindow::Procedure)));
    return true;
}

void SubclassedWindow::Detach()
{
    if (!m_hwnd) return;
    if (::IsWindow(m_hwnd)) {
        ::SetWindowLongPtrW(m_hwnd, GWLP_WNDPROC, reinterpret_cast<LONG_PTR>(m_previous));
        ::RemovePropW(m_hwnd, kSelfProperty);
    }
    m_hwnd = nullptr;
    m_previous = nullptr;
}

LRESULT SubclassedWindow::Default(UINT msg, WPARAM wp, LPARAM lp)
{
    return ::CallWindowProcW(m_previous, m_hwnd, msg, wp, lp);
}

LRESULT CALLBACK SubclassedWindow::Procedure(HWND window, UINT msg, WPARAM wp, LPARAM lp)
{
    auto* self = static_cast<SubclassedWindow*>(::GetPropW(window, kSelfProperty));
    if (!self) return ::DefWindowProcW(window, msg, wp, lp);
    const LRESULT result = self->WindowProc(msg, wp, lp);
    if (msg == WM_NCDESTROY) self->Detach();
    return result;
}

}  // namespace win

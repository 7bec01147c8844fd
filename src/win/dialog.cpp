#include "win/dialog.h"

#include "win/syslib.h"

namespace win {

INT_PTR ModalDialog::DoModal(HWND parent)
{
    // Painting a dialog and its pictures loads drawing and decoding helpers by name.
    PreloadSystemLibraries(OnDemand::Window);
    return ::DialogBoxParamW(::GetModuleHandleW(nullptr), MAKEINTRESOURCEW(m_templateId), parent,
                             &ModalDialog::Procedure, reinterpret_cast<LPARAM>(this));
}

INT_PTR CALLBACK ModalDialog::Procedure(HWND window, UINT msg, WPARAM wp, LPARAM lp)
{
    ModalDialog* self;
    if (msg == WM_INITDIALOG) {
        self = reinterpret_cast<ModalDialog*>(lp);
        self->m_hwnd = window;
        ::SetWindowLongPtrW(window, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(self));
    } else {
        self = reinterpret_cast<ModalDialog*>(::GetWindowLongPtrW(window, GWLP_USERDATA));
    }
    if (!self) return FALSE;
    return self->Dispatch(msg, wp, lp);
}

INT_PTR ModalDialog::Dispatch(UINT msg, WPARAM wp, LPARAM lp)
{
    switch (msg) {
    case WM_INITDIALOG: return OnInitDialog();
    case WM_COMMAND: {
        const int id = LOWORD(wp);
        if (id == IDCANCEL)
            OnCancel();
        else if (id == IDOK)
            OnOK();
        else
            OnCommand(id, HIWORD(wp));
        return TRUE;
    }
    case WM_NCDESTROY: ::SetWindowLongPtrW(m_hwnd, GWLP_USERDATA, 0); return FALSE;
    default: break;
    }
    LRESULT result = 0;
    if (!OnMessage(msg, wp, lp, result)) return FALSE;
    // These messages take the procedure's return value itself; all others take DWLP_MSGRESULT.
    switch (msg) {
    case WM_QUERYDRAGICON:
    case WM_CTLCOLORBTN:
    case WM_CTLCOLORDLG:
    case WM_CTLCOLOREDIT:
    case WM_CTLCOLORLISTBOX:
    case WM_CTLCOLORSCROLLBAR:
    case WM_CTLCOLORSTATIC: return static_cast<INT_PTR>(result);
    default: ::SetWindowLongPtrW(m_hwnd, DWLP_MSGRESULT, result); return TRUE;
    }
}

}  // namespace win

// Modal dialog base: one static procedure hands messages to typed member functions.
#pragma once
#include <windows.h>

namespace win {

class ModalDialog {
public:
    explicit ModalDialog(int templateId) : m_templateId(templateId) {}
    virtual ~ModalDialog() = default;
    ModalDialog(const ModalDialog&) = delete;
    ModalDialog& operator=(const ModalDialog&) = delete;

    // Runs the dialog from the program's template; returns what EndDialog was given, -1 on failure.
    INT_PTR DoModal(HWND parent = nullptr);

    HWND hwnd() const { return m_hwnd; }
    HWND Item(int id) const { return ::GetDlgItem(m_hwnd, id); }

protected:
    virtual BOOL OnInitDialog() { return TRUE; }
    // WM_COMMAND from a control or menu other than IDOK and IDCANCEL.
    virtual void OnCommand(int /*id*/, int /*code*/) {}
    // Any other message. Return true when handled; `result` goes back to the sender.
    virtual bool OnMessage(UINT /*msg*/, WPARAM /*wp*/, LPARAM /*lp*/, LRESULT& /*result*/)
    {
        return false;
    }
    // Escape, the close box and WM_CLOSE arrive here as IDCANCEL.
    virtual void OnCancel() { EndDialog(IDCANCEL); }
    virtual void OnOK() { EndDialog(IDOK); }
    void EndDialog(INT_PTR result) { ::EndDialog(m_hwnd, result); }

private:
    static INT_PTR CALLBACK Procedure(HWND window, UINT msg, WPARAM wp, LPARAM lp);
    INT_PTR Dispatch(UINT msg, WPARAM wp, LPARAM lp);

    int m_templateId;
    HWND m_hwnd = nullptr;
};

}  // namespace win

// The update dialog: the program's only window, run modally by start-up. It shows what the
// update flow tells it and forwards the user's clicks; it never waits.
#pragma once
#include <windows.h>
#include <shobjidl.h>
#include <wrl/client.h>

#include <string>
#include <vector>

#include "picture/picture_ex.h"
#include "rules/failure.h"
#include "resource.h"
#include "settings/values.h"
#include "ui/dialog_states.h"
#include "ui/download_line.h"
#include "update/flow.h"
#include "win/dialog.h"
#include "win/handles.h"

namespace ui {

class CMorvaneDlg : public win::ModalDialog {
public:
    enum { IDD = IDD_MORVANE_DIALOG };

    // The dialog reads the values and never writes them; they must outlive the dialog. It opens
    // asking, or with what stopped start-up: an unsupported system (as the values say), or a
    // local wizard that failed its check (STATE_WIZARD_REFUSED).
    explicit CMorvaneDlg(const settings::Values& values, ui::State opening = ui::STATE_ASK);
    ~CMorvaneDlg() override;

    // Enters a state; every state change of the dialog goes through here.
    int SetState(ui::State nState);
    // Hides the dialog, starts the local wizard and closes the dialog; when the local wizard is
    // refused, the dialog comes back in its failed view instead. 0 then.
    int StartLocalWizardAndClose();
    // Shows the picture and plays Morvane.gif from the language folder; 0 when it is missing.
    int ShowAnimation();

protected:
    BOOL OnInitDialog() override;
    void OnCommand(int id, int code) override;
    bool OnMessage(UINT msg, WPARAM wp, LPARAM lp, LRESULT& result) override;
    void OnCancel() override;
    void OnOK() override;
    // The failed view, with the failure's reason line under the message.
    void ShowFailure(const rules::Failure& failure);

private:
    void DoDataExchange();
    void SetUpFontAndTitle();
    void SetTextFont(int dpi);
    void PlacePicture();
    void ApplyButton(HWND button, const ui::ButtonEffect& effect);
    void ApplyProgressBar(ui::ProgressBar effect);
    void ApplyLine(ui::Visibility effect);
    void FocusFirstButton();
    void ApplySize(ui::Visibility effect);
    const std::wstring& TextOf(ui::Text text) const;

    bool OnPaint();
    HICON OnQueryDragIcon() const;
    void OnNoButton();
    void OnYesButton();
    void OnCancelButton();
    void OnUpdateNote(update::Note note, LPARAM attempt);
    void ShowProgress();
    void ShowLineSoon();
    void ShowLine();
    void ShowTaskbarProgress(TBPFLAG state, unsigned long long done, unsigned long long total);

    const settings::Values& m_values;
    const ui::State m_nOpening;
    win::Icon m_hIcon;
    win::Icon m_hSmallIcon;
    HWND m_ctlMessage = nullptr;
    HWND m_ctlReason = nullptr;
    HWND m_btnNo = nullptr;
    HWND m_btnYes = nullptr;
    HWND m_btnCancel = nullptr;
    HWND m_ctlProgress = nullptr;
    HWND m_ctlSize = nullptr;
    HWND m_ctlLine = nullptr;
    win::Font m_fontText;
    picture::CPictureEx m_picture;
    ui::State m_nState = ui::STATE_SETUP;
    update::Flow m_flow;
    // The download line: its texts, the latest figures, the time left they give, and when the
    // line last changed (it changes a few times a second at most; a timer brings the latest
    // figures when a note came too soon after the last change).
    const std::vector<std::wstring> m_lineTexts;
    update::Progress m_lineProgress;
    ui::TimeLeftEstimate m_timeLeft;
    DWORD m_lineShownAt = 0;
    bool m_lineTimer = false;
    // The taskbar button's progress, where the system offers it.
    Microsoft::WRL::ComPtr<ITaskbarList3> m_taskbar;
    // Set once the dialog is on its way out (Cancel, No, the close box, the hand-over): a note
    // that arrives after that changes nothing.
    bool m_bEnding = false;
};

}  // namespace ui

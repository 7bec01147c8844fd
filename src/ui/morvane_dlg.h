// The update dialog: the program's only window, run modally by start-up.
#pragma once
#include <windows.h>

#include <string>

#include "picture/picture_ex.h"
#include "resource.h"
#include "ui/dialog_states.h"
#include "win/dialog.h"
#include "win/handles.h"

class CMorvaneApp;

// Sent once by the download and staging workers; wParam 1 on success, 0 on failure.
constexpr UINT WM_DOWNLOAD_DONE = WM_APP + 100;
constexpr UINT WM_STAGING_DONE = WM_APP + 101;

class CMorvaneDlg : public win::ModalDialog {
public:
    enum { IDD = IDD_MORVANE_DIALOG };

    // The dialog reads the settings record and never writes it; it must outlive the dialog.
    explicit CMorvaneDlg(const CMorvaneApp& settings);
    ~CMorvaneDlg() override;

    // Enters one of the ui::STATE_ values; every state change of the dialog goes through here.
    int SetState(int nState);
    // Hides the dialog, opens the local wizard and closes the dialog.
    int StartLocalWizardAndClose();
    // Shows the picture and plays Morvane.gif from the language folder; 0 when it is missing.
    int ShowAnimation();

protected:
    BOOL OnInitDialog() override;
    void OnCommand(int id, int code) override;
    bool OnMessage(UINT msg, WPARAM wp, LPARAM lp, LRESULT& result) override;
    void OnCancel() override;

private:
    using Icon = win::Unique<win::IconTraits>;

    void DoDataExchange();
    void SetUpFontAndTitle();
    void ApplyButton(HWND button, const ui::ButtonEffect& effect);
    const std::wstring& TextOf(ui::Text text) const;

    bool OnPaint();
    HICON OnQueryDragIcon() const;
    void OnNoButton();
    void OnYesButton();
    LRESULT OnDownloadDone(WPARAM wp, LPARAM lp);
    LRESULT OnStagingDone(WPARAM wp, LPARAM lp);
    void OnCancelButton();

    static unsigned __stdcall DownloadWorker(void* param);
    static unsigned __stdcall StagingWorker(void* param);

    const CMorvaneApp& m_settings;
    Icon m_hIcon;
    Icon m_hSmallIcon;
    HWND m_ctlMessage = nullptr;
    HWND m_btnNo = nullptr;
    HWND m_btnYes = nullptr;
    HWND m_btnCancel = nullptr;
    win::GdiObject m_fontText;
    CPictureEx m_picture;
    int m_nState = ui::STATE_SETUP;
    // Set once the dialog is on its way out (Cancel, No, the close box): a worker's result
    // that arrives after that starts no check, no staging and no hand-over.
    bool m_bEnding = false;
};

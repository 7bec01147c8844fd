#include "ui/morvane_dlg.h"

#include <shlwapi.h>

#include <memory>

#include "app/morvane_app.h"
#include "sys/download.h"
#include "sys/trust.h"
#include "ui/staging.h"
#include "ui/title_format.h"
#include "win/com.h"
#include "win/thread.h"
#include "win/trail.h"
#include "win/wstr.h"

namespace {

// Icon 128 at the size the system wants for `metricX` x `metricY`, so neither the caption
// nor the taskbar has to stretch a 32-pixel image.
HICON LoadAppIcon(int metricX, int metricY)
{
    return static_cast<HICON>(::LoadImageW(::GetModuleHandleW(nullptr),
                                           MAKEINTRESOURCEW(IDR_MAINFRAME), IMAGE_ICON,
                                           ::GetSystemMetrics(metricX),
                                           ::GetSystemMetrics(metricY), LR_DEFAULTCOLOR));
}

// "Lucida Sans Unicode" at 10 points for the screen: height -MulDiv(dpi, 100, 720).
HFONT CreateTextFont()
{
    win::WindowDc screen(nullptr);
    const int dpi = screen ? ::GetDeviceCaps(screen.get(), LOGPIXELSY) : 96;
    return ::CreateFontW(-::MulDiv(dpi, 100, 720), 0, 0, 0, FW_DONTCARE, FALSE, FALSE, FALSE,
                         DEFAULT_CHARSET, OUT_DEFAULT_PRECIS, CLIP_DEFAULT_PRECIS,
                         DEFAULT_QUALITY, DEFAULT_PITCH | FF_DONTCARE, L"Lucida Sans Unicode");
}

void SetText(HWND window, const std::wstring& text) { ::SetWindowTextW(window, text.c_str()); }

// What the download worker takes with it: its own copies, nothing it shares with the dialog.
struct DownloadJob {
    HWND dialog;
    std::wstring url;
    std::wstring file;
};

// Hands `job` to a new detached thread running `worker`, which then owns it; false (and the
// job freed) when no thread could be made.
template <class Job>
bool StartWorker(win::ThreadProc worker, std::unique_ptr<Job> job)
{
    if (!win::StartDetachedThread(worker, job.get())) return false;
    job.release();
    return true;
}

}  // namespace

CMorvaneDlg::CMorvaneDlg(const CMorvaneApp& settings)
    : win::ModalDialog(IDD),
      m_settings(settings),
      m_hIcon(LoadAppIcon(SM_CXICON, SM_CYICON)),
      m_hSmallIcon(LoadAppIcon(SM_CXSMICON, SM_CYSMICON))
{
}

// The window is gone by now; the picture stops its animation in its own destructor, and the
// font and icons outlive every control that used them.
CMorvaneDlg::~CMorvaneDlg() = default;

void CMorvaneDlg::DoDataExchange()
{
    m_ctlMessage = Item(IDC_UPD_MES);
    m_btnNo = Item(IDC_NO_BTN);
    m_btnYes = Item(IDC_YES_BTN);
    m_btnCancel = Item(IDC_CAN_BTN);
    m_picture.Attach(Item(IDC_PICTURE));
}

BOOL CMorvaneDlg::OnInitDialog()
{
    DoDataExchange();
    // WM_SETICON keeps the handles without copying them: the icons live as long as this object.
    ::SendMessageW(hwnd(), WM_SETICON, ICON_BIG, reinterpret_cast<LPARAM>(m_hIcon.get()));
    ::SendMessageW(hwnd(), WM_SETICON, ICON_SMALL, reinterpret_cast<LPARAM>(m_hSmallIcon.get()));
    SetState(ui::STATE_SETUP);
    SetState(m_settings.m_bOsSupported ? ui::STATE_ASK : ui::STATE_OS_UNSUPPORTED);
    return TRUE;
}

int CMorvaneDlg::SetState(int nState)
{
    m_nState = nState;
    trail::Say(L"dialog: " + std::wstring(ui::StateName(nState)));
    const ui::StateEffects effects = ui::EffectsOf(nState);
    if (effects.setUpFontAndTitle) SetUpFontAndTitle();
    if (effects.message != ui::Text::Keep) SetText(m_ctlMessage, TextOf(effects.message));
    ApplyButton(m_btnYes, effects.yes);
    ApplyButton(m_btnNo, effects.no);
    ApplyButton(m_btnCancel, effects.cancel);
    if (effects.animation == ui::Animation::Start) {
        ShowAnimation();
    } else if (effects.animation == ui::Animation::StopAndHide) {
        m_picture.StopAnimation();
        ::ShowWindow(Item(IDC_PICTURE), SW_HIDE);
    }
    return 1;
}

void CMorvaneDlg::SetUpFontAndTitle()
{
    win::GdiObject font(CreateTextFont());
    // The dialog and the picture keep the template's font.
    for (HWND control : {m_ctlMessage, m_btnNo, m_btnYes, m_btnCancel})
        ::SendMessageW(control, WM_SETFONT, reinterpret_cast<WPARAM>(font.get()), TRUE);
    // Replacing the old font only now: the controls no longer use it.
    m_fontText = std::move(font);
    SetText(hwnd(), ui::FormatTitle(m_settings.m_strTitleUpdate, m_settings.m_strProductName));
}

void CMorvaneDlg::ApplyButton(HWND button, const ui::ButtonEffect& effect)
{
    if (effect.visibility != ui::Visibility::Keep)
        ::ShowWindow(button, effect.visibility == ui::Visibility::Show ? SW_SHOW : SW_HIDE);
    if (effect.enabling != ui::Enabling::Keep)
        ::EnableWindow(button, effect.enabling == ui::Enabling::Enable);
    if (effect.caption != ui::Text::Keep) SetText(button, TextOf(effect.caption));
}

const std::wstring& CMorvaneDlg::TextOf(ui::Text text) const
{
    static const std::wstring none;
    switch (text) {
    case ui::Text::MessageOSCap: return m_settings.m_strMessageOSCap;
    case ui::Text::MessageUpdate: return m_settings.m_strMessageUpdate;
    case ui::Text::MessageDownload: return m_settings.m_strMessageDownload;
    case ui::Text::DownloadError: return m_settings.m_strDownloadError;
    case ui::Text::YesBtn: return m_settings.m_strYesBtn;
    case ui::Text::RetryBtn: return m_settings.m_strRetryBtn;
    case ui::Text::NoBtn: return m_settings.m_strNoBtn;
    case ui::Text::CloseBtn: return m_settings.m_strCloseBtn;
    case ui::Text::CancelBtn: return m_settings.m_strCancelBtn;
    case ui::Text::Keep: break;
    }
    return none;
}

int CMorvaneDlg::ShowAnimation()
{
    const std::wstring path =
        wstr::JoinPath(wstr::JoinPath(m_settings.m_strAppDir + L"\\res", m_settings.m_strLanguage),
                       L"Morvane.gif");
    if (!::PathFileExistsW(path.c_str())) return 0;
    ::ShowWindow(Item(IDC_PICTURE), SW_SHOW);
    m_picture.LoadFile(path);
    m_picture.StartAnimation();
    return 1;
}

int CMorvaneDlg::StartLocalWizardAndClose()
{
    m_bEnding = true;
    trail::Say(L"dialog: handing over to the local wizard");
    // The dialog is the application's main window; it disappears before the wizard appears.
    ::ShowWindow(hwnd(), SW_HIDE);
    // Fire and forget: the dialog closes whether or not the wizard could be started.
    StartLocalWizard(m_settings.m_strAppDir);
    ::PostMessageW(hwnd(), WM_CLOSE, 0, 0);
    return 1;
}

void CMorvaneDlg::OnCommand(int id, int code)
{
    if (code != BN_CLICKED) return;
    switch (id) {
    case IDC_NO_BTN: OnNoButton(); break;
    case IDC_YES_BTN: OnYesButton(); break;
    case IDC_CAN_BTN: OnCancelButton(); break;
    default: break;
    }
}

bool CMorvaneDlg::OnMessage(UINT msg, WPARAM wp, LPARAM lp, LRESULT& result)
{
    switch (msg) {
    case WM_PAINT:
        return OnPaint();
    case WM_QUERYDRAGICON:
        result = reinterpret_cast<LRESULT>(OnQueryDragIcon());
        return true;
    case WM_DOWNLOAD_DONE:
        result = OnDownloadDone(wp, lp);
        return true;
    case WM_STAGING_DONE:
        result = OnStagingDone(wp, lp);
        return true;
    default:
        return false;
    }
}

// Only the minimised dialog is painted here; otherwise the dialog manager paints as usual.
bool CMorvaneDlg::OnPaint()
{
    if (!::IsIconic(hwnd())) return false;
    win::PaintDc dc(hwnd());
    ::SendMessageW(hwnd(), WM_ICONERASEBKGND, reinterpret_cast<WPARAM>(dc.get()), 0);
    RECT client;
    ::GetClientRect(hwnd(), &client);
    const int x = (client.right - client.left - ::GetSystemMetrics(SM_CXICON) + 1) / 2;
    const int y = (client.bottom - client.top - ::GetSystemMetrics(SM_CYICON) + 1) / 2;
    ::DrawIcon(dc.get(), x, y, m_hIcon.get());
    return true;
}

HICON CMorvaneDlg::OnQueryDragIcon() const { return m_hIcon.get(); }

void CMorvaneDlg::OnNoButton()
{
    if (ui::NoStartsLocalWizard(m_nState)) StartLocalWizardAndClose();
}

void CMorvaneDlg::OnYesButton()
{
    if (!ui::YesStartsDownload(m_nState)) return;
    SetState(ui::STATE_DOWNLOADING);
    auto job = std::make_unique<DownloadJob>(
        DownloadJob{hwnd(), m_settings.m_strDownloadUrl, m_settings.m_strPackagePath});
    // Without a thread the dialog stays as it is; Cancel still hands over to the local wizard.
    StartWorker(DownloadWorker, std::move(job));
}

unsigned __stdcall CMorvaneDlg::DownloadWorker(void* param)
{
    std::unique_ptr<DownloadJob> job(static_cast<DownloadJob*>(param));
    int downloaded = 0;
    try {
        trail::Say(L"download: fetching the package into " + job->file);
        win::ComApartment com;  // the URL download is a COM object
        downloaded = sys::DownloadPackageFile(job->url, job->file);
        trail::Say(downloaded ? L"download: package stored" : L"download: failed");
    } catch (...) {
        downloaded = 0;
    }
    // Blocks until the dialog has handled the result; fails at once when the dialog is gone.
    ::SendMessageW(job->dialog, WM_DOWNLOAD_DONE, static_cast<WPARAM>(downloaded), 0);
    return 0;
}

LRESULT CMorvaneDlg::OnDownloadDone(WPARAM wp, LPARAM)
{
    if (m_bEnding || m_nState != ui::STATE_DOWNLOADING) {
        trail::Say(L"download result after the dialog ended: ignored");
        return 0;
    }
    win::File lock;
    // The check runs here, on the main thread, while the worker waits.
    if (!wp || !sys::VerifyPackage(m_settings.m_strPackagePath, &lock)) {
        SetState(ui::STATE_FAILED);
        return 0;
    }
    SetState(ui::STATE_STAGING);
    auto job = std::make_unique<ui::StagingJob>();
    job->dialog = hwnd();
    job->packagePath = m_settings.m_strPackagePath;
    job->tempDir = m_settings.m_strTempDir;
    job->exePath = m_settings.m_strExePath;
    job->appDir = m_settings.m_strAppDir;
    // The file that was judged stays locked until the staging has started it.
    job->packageLock = std::move(lock);
    // Without a thread the dialog stays in staging; the close box still ends it.
    StartWorker(StagingWorker, std::move(job));
    return 0;
}

unsigned __stdcall CMorvaneDlg::StagingWorker(void* param)
{
    std::unique_ptr<ui::StagingJob> job(static_cast<ui::StagingJob*>(param));
    int staged = 0;
    try {
        staged = ui::StagePackage(*job);
    } catch (...) {
        staged = 0;
    }
    // On success this returns only after the new wizard has ended and the clean-up is done.
    ::SendMessageW(job->dialog, WM_STAGING_DONE, static_cast<WPARAM>(staged), 0);
    return 0;
}

LRESULT CMorvaneDlg::OnStagingDone(WPARAM wp, LPARAM)
{
    if (m_bEnding || m_nState != ui::STATE_STAGING) {
        trail::Say(L"staging result after the dialog ended: ignored");
        return 0;
    }
    if (!wp) {
        SetState(ui::STATE_FAILED);
        return 0;
    }
    m_bEnding = true;
    ::ShowWindow(hwnd(), SW_HIDE);
    const CMorvaneApp& s = m_settings;
    const int started = ui::RunNewWizardAndCleanUp(s.m_strPackagePath, s.m_strTempDir,
                                                   s.m_strExePath, s.m_strAppDir);
    // The user is never left with no wizard: without the new one, the local one starts.
    if (!started) {
        trail::Say(L"hand-over: the new wizard could not be started; starting the local one");
        StartLocalWizard(s.m_strAppDir);
    }
    ::PostMessageW(hwnd(), WM_CLOSE, 0, 0);
    return 0;
}

void CMorvaneDlg::OnCancel()
{
    m_bEnding = true;
    win::ModalDialog::OnCancel();
}

void CMorvaneDlg::OnCancelButton()
{
    switch (ui::CancelActionOf(m_nState)) {
    case ui::CancelAction::Close:
        ::PostMessageW(hwnd(), WM_CLOSE, 0, 0);
        break;
    case ui::CancelAction::StartLocalWizardAndClose:
        StartLocalWizardAndClose();
        break;
    case ui::CancelAction::Nothing:
        break;
    }
}

#include "ui/morvane_dlg.h"

#include <shellapi.h>
#include <shlwapi.h>

#include "app/morvane_app.h"
#include "ui/title_format.h"
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

}  // namespace

CMorvaneDlg::CMorvaneDlg()
    : win::ModalDialog(IDD),
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
    SetState(theApp.m_bOsSupported ? ui::STATE_ASK : ui::STATE_OS_UNSUPPORTED);
    return TRUE;
}

int CMorvaneDlg::SetState(int nState)
{
    m_nState = nState;
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
    SetText(hwnd(), ui::FormatTitle(theApp.m_strTitleUpdate, theApp.m_strProductName));
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
    case ui::Text::MessageOSCap: return theApp.m_strMessageOSCap;
    case ui::Text::MessageUpdate: return theApp.m_strMessageUpdate;
    case ui::Text::MessageDownload: return theApp.m_strMessageDownload;
    case ui::Text::DownloadError: return theApp.m_strDownloadError;
    case ui::Text::YesBtn: return theApp.m_strYesBtn;
    case ui::Text::RetryBtn: return theApp.m_strRetryBtn;
    case ui::Text::NoBtn: return theApp.m_strNoBtn;
    case ui::Text::CloseBtn: return theApp.m_strCloseBtn;
    case ui::Text::CancelBtn: return theApp.m_strCancelBtn;
    case ui::Text::Keep: break;
    }
    return none;
}

int CMorvaneDlg::ShowAnimation()
{
    const std::wstring path =
        wstr::JoinPath(wstr::JoinPath(theApp.m_strAppDir + L"\\res", theApp.m_strLanguage),
                       L"Morvane.gif");
    if (!::PathFileExistsW(path.c_str())) return 0;
    ::ShowWindow(Item(IDC_PICTURE), SW_SHOW);
    m_picture.LoadFile(path);
    m_picture.StartAnimation();
    return 1;
}

int CMorvaneDlg::StartLocalWizardAndClose()
{
    // The dialog is the application's main window; it disappears before the wizard appears.
    ::ShowWindow(hwnd(), SW_HIDE);
    const std::wstring wizard = wstr::JoinPath(theApp.m_strAppDir, L"KVWizard.exe");
    // Fire and forget: the dialog closes whether or not the wizard could be started.
    ::ShellExecuteW(nullptr, L"open", wizard.c_str(), nullptr, nullptr, SW_SHOW);
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
    // The download worker hooks in here: SetState(ui::STATE_DOWNLOADING), then start it.
}

LRESULT CMorvaneDlg::OnDownloadDone(WPARAM, LPARAM)
{
    if (m_nState != ui::STATE_DOWNLOADING) return 0;
    // The download worker's result is handled here: verify, then staging or STATE_FAILED.
    return 0;
}

LRESULT CMorvaneDlg::OnStagingDone(WPARAM, LPARAM)
{
    if (m_nState != ui::STATE_STAGING) return 0;
    // The staging worker's result is handled here: hand over to the new wizard or STATE_FAILED.
    return 0;
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

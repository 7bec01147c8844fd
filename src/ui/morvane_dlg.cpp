#include "ui/morvane_dlg.h"

#include <commctrl.h>
#include <shlwapi.h>

#include "ui/title_format.h"
#include "win/trail.h"

namespace ui {

namespace {

// Icon 128 at the size the system wants for `metricX` x `metricY`, so neither the caption
// nor the taskbar has to stretch a 32-pixel image.
HICON LoadAppIcon(int metricX, int metricY)
{
    return static_cast<HICON>(
        ::LoadImageW(::GetModuleHandleW(nullptr), MAKEINTRESOURCEW(IDR_MAINFRAME), IMAGE_ICON,
                     ::GetSystemMetrics(metricX), ::GetSystemMetrics(metricY), LR_DEFAULTCOLOR));
}

int ScreenDpi()
{
    win::WindowDc screen(nullptr);
    return screen ? ::GetDeviceCaps(screen.get(), LOGPIXELSY) : 96;
}

// "Lucida Sans Unicode" at 10 points for a screen of `dpi`: height -MulDiv(dpi, 100, 720).
HFONT CreateTextFont(int dpi)
{
    return ::CreateFontW(-::MulDiv(dpi, 100, 720), 0, 0, 0, FW_DONTCARE, FALSE, FALSE, FALSE,
                         DEFAULT_CHARSET, OUT_DEFAULT_PRECIS, CLIP_DEFAULT_PRECIS, DEFAULT_QUALITY,
                         DEFAULT_PITCH | FF_DONTCARE, L"Lucida Sans Unicode");
}

void SetText(HWND window, const std::wstring& text) { ::SetWindowTextW(window, text.c_str()); }

// The strip left of the message where the animation sits, in dialog units (the template's
// picture at x 7, the message at x 22, both at y 17).
constexpr RECT kPictureStrip = {7, 17, 22, 17};

// The progress bar's range: fine enough for a smooth bar, small enough for any package size.
constexpr int kProgressSteps = 1000;

// The download line changes at most this often: readable, and no flood of name changes for a
// screen reader.
constexpr DWORD kLineIntervalMs = 250;
constexpr UINT_PTR kLineTimer = 1;

// A size as the user's settings write sizes ("12.3 MB"): numbers and units need no text of the
// language files, so every language shows it.
std::wstring ByteSize(unsigned long long bytes)
{
    wchar_t text[64] = {};
    if (!::StrFormatByteSizeW(static_cast<LONGLONG>(bytes), text, 64)) text[0] = L'\0';
    return text;
}

int ProgressStep(unsigned long long done, unsigned long long total)
{
    if (total == 0) return 0;
    if (done >= total) return kProgressSteps;
    return static_cast<int>(done * kProgressSteps / total);
}

void SetMarquee(HWND bar, bool on)
{
    const LONG_PTR style = ::GetWindowLongPtrW(bar, GWL_STYLE);
    const LONG_PTR wanted =
        on ? (style | PBS_MARQUEE) : (style & ~static_cast<LONG_PTR>(PBS_MARQUEE));
    if (wanted == style) return;
    ::SetWindowLongPtrW(bar, GWL_STYLE, wanted);
    ::SendMessageW(bar, PBM_SETMARQUEE, on ? TRUE : FALSE, 30);
}

}  // namespace

CMorvaneDlg::CMorvaneDlg(const settings::Values& values, ui::State opening)
    : win::ModalDialog(IDD),
      m_values(values),
      m_nOpening(opening),
      m_hIcon(LoadAppIcon(SM_CXICON, SM_CYICON)),
      m_hSmallIcon(LoadAppIcon(SM_CXSMICON, SM_CYSMICON)),
      m_flow(values),
      m_lineTexts(ui::LineTexts(values.texts.downloadLine, values.installation.language))
{
}

// The window is gone by now; the picture stops its animation in its own destructor, and the
// font and icons outlive every control that used them.
CMorvaneDlg::~CMorvaneDlg() = default;

void CMorvaneDlg::DoDataExchange()
{
    m_ctlMessage = Item(IDC_UPD_MES);
    m_ctlReason = Item(IDC_REASON);
    m_btnNo = Item(IDC_NO_BTN);
    m_btnYes = Item(IDC_YES_BTN);
    m_btnCancel = Item(IDC_CAN_BTN);
    m_ctlProgress = Item(IDC_PROGRESS);
    m_ctlSize = Item(IDC_PKG_SIZE);
    m_ctlLine = Item(IDC_DL_LINE);
    m_picture.Attach(Item(IDC_PICTURE));
}

BOOL CMorvaneDlg::OnInitDialog()
{
    DoDataExchange();
    // WM_SETICON keeps the handles without copying them: the icons live as long as this object.
    ::SendMessageW(hwnd(), WM_SETICON, ICON_BIG, reinterpret_cast<LPARAM>(m_hIcon.get()));
    ::SendMessageW(hwnd(), WM_SETICON, ICON_SMALL, reinterpret_cast<LPARAM>(m_hSmallIcon.get()));
    SetState(ui::STATE_SETUP);
    // A refused local wizard is said as it is, whatever else start-up found.
    const bool refused = m_nOpening == ui::STATE_WIZARD_REFUSED;
    SetState(refused || m_values.osSupported ? m_nOpening : ui::STATE_OS_UNSUPPORTED);
    return TRUE;
}

int CMorvaneDlg::SetState(ui::State nState)
{
    m_nState = nState;
    win::Trail(L"dialog: " + std::wstring(ui::StateName(nState)));
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
    ApplyProgressBar(effects.progress);
    ApplyLine(effects.line);
    ApplySize(effects.size);
    if (effects.reason != ui::Visibility::Keep)
        ::ShowWindow(m_ctlReason, effects.reason == ui::Visibility::Show ? SW_SHOW : SW_HIDE);
    FocusFirstButton();
    // A screen reader reads the view that just appeared: its message and, failed, why.
    ::NotifyWinEvent(EVENT_SYSTEM_ALERT, m_ctlMessage, OBJID_CLIENT, CHILDID_SELF);
    return 1;
}

// The first button shown and enabled takes the focus and answers Enter, so every state can be
// driven by the keyboard alone (Escape is the close box). Shown is the button's own WS_VISIBLE:
// IsWindowVisible is false for every control while the dialog itself is not yet on screen, as
// in WM_INITDIALOG, which left the opening view's Enter on IDOK.
void CMorvaneDlg::FocusFirstButton()
{
    for (HWND button : {m_btnYes, m_btnNo, m_btnCancel}) {
        const bool shown = (::GetWindowLongW(button, GWL_STYLE) & WS_VISIBLE) != 0;
        if (!shown || !::IsWindowEnabled(button)) continue;
        ::SendMessageW(hwnd(), DM_SETDEFID, static_cast<WPARAM>(::GetDlgCtrlID(button)), 0);
        ::SendMessageW(hwnd(), WM_NEXTDLGCTL, reinterpret_cast<WPARAM>(button), TRUE);
        return;
    }
}

void CMorvaneDlg::ShowFailure(const rules::Failure& failure)
{
    const size_t index = static_cast<size_t>(failure.cause);
    const std::vector<std::wstring>& reasons = m_values.texts.reasons;
    const std::wstring text =
        index < reasons.size() && !reasons[index].empty()
            ? reasons[index]
            : rules::BuiltInReason(failure.cause, m_values.installation.language);
    SetText(m_ctlReason, rules::ReasonLine(text, failure.cause));
    SetState(ui::STATE_FAILED);
}

// The package's size; nothing when the offer gives no size.
void CMorvaneDlg::ApplySize(ui::Visibility effect)
{
    if (effect == ui::Visibility::Keep) return;
    const unsigned long long bytes = m_values.offer.packageSize;
    const bool show = effect == ui::Visibility::Show && bytes != 0;
    if (show) SetText(m_ctlSize, ByteSize(bytes));
    ::ShowWindow(m_ctlSize, show ? SW_SHOW : SW_HIDE);
}

// Shown, the line starts empty for a new download: its figures and its estimate are that
// download's own.
void CMorvaneDlg::ApplyLine(ui::Visibility effect)
{
    if (effect == ui::Visibility::Keep) return;
    if (m_lineTimer) ::KillTimer(hwnd(), kLineTimer);
    m_lineTimer = false;
    if (effect == ui::Visibility::Show) {
        m_lineProgress = update::Progress();
        m_timeLeft = ui::TimeLeftEstimate();
        m_lineShownAt = ::GetTickCount() - kLineIntervalMs;
        SetText(m_ctlLine, std::wstring());
    }
    ::ShowWindow(m_ctlLine, effect == ui::Visibility::Show ? SW_SHOW : SW_HIDE);
}

void CMorvaneDlg::ApplyProgressBar(ui::ProgressBar effect)
{
    if (effect == ui::ProgressBar::Keep) return;
    const bool show = effect == ui::ProgressBar::ShowEmpty;
    if (show) {
        // Nothing has arrived yet: an empty bar until the first figures come.
        SetMarquee(m_ctlProgress, false);
        ::SendMessageW(m_ctlProgress, PBM_SETRANGE32, 0, kProgressSteps);
        ::SendMessageW(m_ctlProgress, PBM_SETPOS, 0, 0);
    }
    ::ShowWindow(m_ctlProgress, show ? SW_SHOW : SW_HIDE);
    ShowTaskbarProgress(show ? TBPF_NORMAL : TBPF_ERROR, 0, 1);
}

void CMorvaneDlg::SetUpFontAndTitle()
{
    SetTextFont(ScreenDpi());
    SetText(hwnd(), ui::FormatTitle(m_values.texts.titleUpdate, m_values.texts.productName));
}

void CMorvaneDlg::SetTextFont(int dpi)
{
    win::Font font(CreateTextFont(dpi));
    // The dialog and the picture keep the template's font.
    for (HWND control :
         {m_ctlMessage, m_ctlReason, m_btnNo, m_btnYes, m_btnCancel, m_ctlSize, m_ctlLine})
        ::SendMessageW(control, WM_SETFONT, reinterpret_cast<WPARAM>(font.get()), TRUE);
    // Replacing the old font only now: the controls no longer use it.
    m_fontText = std::move(font);
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
    const settings::Texts& t = m_values.texts;
    switch (text) {
    case ui::Text::MessageOSCap: return t.messageOSCap;
    case ui::Text::MessageWizardRefused: return t.messageWizardRefused;
    case ui::Text::MessageUpdate: return t.messageUpdate;
    case ui::Text::MessageDownload: return t.messageDownload;
    case ui::Text::DownloadError: return t.downloadError;
    case ui::Text::YesBtn: return t.yesBtn;
    case ui::Text::RetryBtn: return t.retryBtn;
    case ui::Text::NoBtn: return t.noBtn;
    case ui::Text::CloseBtn: return t.closeBtn;
    case ui::Text::CancelBtn: return t.cancelBtn;
    case ui::Text::Keep: break;
    }
    return none;
}

int CMorvaneDlg::ShowAnimation()
{
    const std::wstring& path = m_values.installation.animation;
    if (!::PathFileExistsW(path.c_str())) return 0;
    ::ShowWindow(Item(IDC_PICTURE), SW_SHOW);
    m_picture.LoadFile(path);
    PlacePicture();
    m_picture.StartAnimation();
    return 1;
}

// LoadFile gave the control the picture's own pixel size, which is never stretched: at any
// scale it sits centred in the strip left of the message, or grows right from the strip's left
// edge when it is wider.
void CMorvaneDlg::PlacePicture()
{
    HWND picture = Item(IDC_PICTURE);
    RECT strip = kPictureStrip;
    ::MapDialogRect(hwnd(), &strip);
    RECT box;
    ::GetWindowRect(picture, &box);
    const int room = (strip.right - strip.left) - (box.right - box.left);
    ::SetWindowPos(picture, nullptr, strip.left + (room > 0 ? room / 2 : 0), strip.top, 0, 0,
                   SWP_NOSIZE | SWP_NOZORDER | SWP_NOACTIVATE);
}

int CMorvaneDlg::StartLocalWizardAndClose()
{
    m_bEnding = true;
    m_flow.Abandon();
    win::Trail(L"dialog: handing over to the local wizard");
    // The dialog is the application's main window; it disappears before the wizard appears.
    ::ShowWindow(hwnd(), SW_HIDE);
    // Fire and forget once started. A wizard that failed its check is not started, and the
    // user is told rather than left with nothing: Retry may bring a good one.
    if (!m_flow.StartLocalWizard()) {
        m_bEnding = false;
        const rules::Failure refused{rules::FailureStep::Start,
                                     rules::FailureCause::LocalWizardRefused};
        win::Trail(L"failure: " + rules::FailureName(refused));
        ShowFailure(refused);
        ::ShowWindow(hwnd(), SW_SHOW);
        return 0;
    }
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
    case WM_PAINT: return OnPaint();
    case WM_QUERYDRAGICON: result = reinterpret_cast<LRESULT>(OnQueryDragIcon()); return true;
    case WM_DPICHANGED:
        // Moved to a screen of another scale: the font we set is ours to remake; the dialog
        // manager rescales the window, the controls and the template's font.
        SetTextFont(HIWORD(wp));
        return false;
    case WM_TIMER:
        if (wp != kLineTimer) return false;
        ::KillTimer(hwnd(), kLineTimer);
        m_lineTimer = false;
        // The staging view keeps the line's last figures: they may still be due.
        if (m_nState == ui::STATE_DOWNLOADING || m_nState == ui::STATE_STAGING) ShowLine();
        result = 0;
        return true;
    case update::WM_UPDATE_NOTE:
        OnUpdateNote(static_cast<update::Note>(wp), lp);
        result = 0;
        return true;
    default: return false;
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
    // Without a worker, a failure like any other: the failed view says why, and Retry tries
    // again.
    if (!m_flow.Start(hwnd())) ShowFailure(m_flow.LastFailure());
}

void CMorvaneDlg::OnUpdateNote(update::Note note, LPARAM attempt)
{
    if (m_bEnding || !m_flow.IsCurrent(attempt)) {
        win::Trail(L"dialog: a note of an attempt given up, ignored");
        return;
    }
    switch (note) {
    case update::Note::Progress:
        if (m_nState == ui::STATE_DOWNLOADING) ShowProgress();
        break;
    case update::Note::Checked:
        if (m_nState == ui::STATE_DOWNLOADING) SetState(ui::STATE_STAGING);
        break;
    case update::Note::HandingOver:
        // The new wizard takes over the screen; the dialog stays, hidden, answering messages
        // until the flow has cleaned up.
        ShowTaskbarProgress(TBPF_NOPROGRESS, 0, 0);
        ::ShowWindow(hwnd(), SW_HIDE);
        break;
    case update::Note::Failed:
        if (m_nState == ui::STATE_DOWNLOADING || m_nState == ui::STATE_STAGING)
            ShowFailure(m_flow.LastFailure());
        break;
    case update::Note::Ended:
        m_bEnding = true;
        ::PostMessageW(hwnd(), WM_CLOSE, 0, 0);
        break;
    }
}

// Never more than what arrived; a marquee while the server gives no length. The line first, so
// that a full bar never shows beside older figures.
void CMorvaneDlg::ShowProgress()
{
    update::Progress progress = m_flow.CurrentProgress();
    // Size= is the package's length (the download refuses any other), so it is the total from
    // the first note on, before the server's headers have said so.
    if (progress.total == 0) progress.total = m_values.offer.packageSize;
    m_lineProgress = progress;
    m_timeLeft.Add(::GetTickCount(), progress.received, progress.total);
    ShowLineSoon();
    const bool known = progress.total != 0;
    SetMarquee(m_ctlProgress, !known);
    if (known) {
        ::SendMessageW(m_ctlProgress, PBM_SETPOS,
                       static_cast<WPARAM>(ProgressStep(progress.received, progress.total)), 0);
    }
    ShowTaskbarProgress(known ? TBPF_NORMAL : TBPF_INDETERMINATE, progress.received,
                        progress.total);
}

// Now when the line has not changed for a while or the download is complete; otherwise once
// the interval is over.
void CMorvaneDlg::ShowLineSoon()
{
    const DWORD since = ::GetTickCount() - m_lineShownAt;
    const bool complete =
        m_lineProgress.total != 0 && m_lineProgress.received >= m_lineProgress.total;
    if (since >= kLineIntervalMs || complete) {
        ShowLine();
    } else if (!m_lineTimer) {
        m_lineTimer = ::SetTimer(hwnd(), kLineTimer, kLineIntervalMs - since, nullptr) != 0;
    }
}

void CMorvaneDlg::ShowLine()
{
    const update::Progress& p = m_lineProgress;
    const std::wstring line =
        ui::DownloadLine(m_lineTexts, ByteSize(p.received),
                         p.total != 0 ? ByteSize(p.total) : std::wstring(), m_timeLeft.Shown());
    SetText(m_ctlLine, line);
    m_lineShownAt = ::GetTickCount();
}

void CMorvaneDlg::ShowTaskbarProgress(TBPFLAG state, unsigned long long done,
                                      unsigned long long total)
{
    if (!m_taskbar) {
        // Offered from Windows 7 on; where it is missing the bar in the dialog is all there is.
        if (FAILED(::CoCreateInstance(CLSID_TaskbarList, nullptr, CLSCTX_INPROC_SERVER,
                                      IID_PPV_ARGS(&m_taskbar))) ||
            FAILED(m_taskbar->HrInit())) {
            m_taskbar.Reset();
            return;
        }
    }
    m_taskbar->SetProgressState(hwnd(), state);
    if (state == TBPF_NORMAL && total != 0)
        m_taskbar->SetProgressValue(hwnd(), done < total ? done : total, total);
}

// The dialog has no OK button. Enter that reaches no button of ours arrives as IDOK, and the
// base would end the dialog without giving up the update's attempt; it does nothing here.
void CMorvaneDlg::OnOK() {}

void CMorvaneDlg::OnCancel()
{
    m_bEnding = true;
    m_flow.Abandon();
    win::ModalDialog::OnCancel();
}

void CMorvaneDlg::OnCancelButton()
{
    switch (ui::CancelActionOf(m_nState)) {
    case ui::CancelAction::Close: ::PostMessageW(hwnd(), WM_CLOSE, 0, 0); break;
    case ui::CancelAction::StartLocalWizardAndClose:
        // Too late once the package runs: the flow's Checked note disables Cancel shortly.
        if (m_flow.Abandon()) StartLocalWizardAndClose();
        break;
    case ui::CancelAction::Nothing: break;
    }
}

}  // namespace ui

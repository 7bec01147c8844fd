// The update dialog's seven states and what entering each one does to its controls.
// Portable: the Win32 dialog applies these effects; the table itself is tested natively.
#pragma once

namespace ui {

enum class State {
    Setup = 0,          // font and title being set up; never seen
    OsUnsupported = 1,  // only a message and Close
    Ask = 2,            // Yes or No
    Downloading = 3,    // Cancel, animation plays, the progress bar fills
    Staging = 4,        // Cancel visible but disabled
    Failed = 5,         // Retry or No
    WizardRefused = 6,  // only a message and Close: the local wizard failed its check
};
constexpr State STATE_SETUP = State::Setup;
constexpr State STATE_OS_UNSUPPORTED = State::OsUnsupported;
constexpr State STATE_ASK = State::Ask;
constexpr State STATE_DOWNLOADING = State::Downloading;
constexpr State STATE_STAGING = State::Staging;
constexpr State STATE_FAILED = State::Failed;
constexpr State STATE_WIZARD_REFUSED = State::WizardRefused;

// The settings texts a state can put on the message or a button.
enum class Text {
    Keep,  // leave the current text alone
    MessageOSCap,
    MessageWizardRefused,
    MessageUpdate,
    MessageDownload,
    DownloadError,
    YesBtn,
    RetryBtn,
    NoBtn,
    CloseBtn,
    CancelBtn,
};

enum class Visibility { Keep, Show, Hide };
enum class Enabling { Keep, Enable, Disable };
enum class Animation { Keep, Start, StopAndHide };
// The download's progress bar: shown empty when a download starts, hidden when it failed.
enum class ProgressBar { Keep, ShowEmpty, Hide };

struct ButtonEffect {
    Visibility visibility;
    Enabling enabling;
    Text caption;
};

// Applied in the order of the members: font and title, message, Yes, No, Cancel, animation,
// progress bar, the download line, the package's size, the failure's reason line; within a button: visibility,
// enabled flag, caption. Whatever says Keep keeps its look. The reason line's text is the
// failure's, set by the dialog before it enters the failed view.
struct StateEffects {
    bool setUpFontAndTitle;
    Text message;
    ButtonEffect yes;
    ButtonEffect no;
    ButtonEffect cancel;
    Animation animation;
    ProgressBar progress;
    // What has arrived and the time left, over the bar; shown empty as a download starts,
    // kept with its last figures while the package is staged.
    Visibility line;
    Visibility size;  // the package's size under the message, when the offer gives it
    Visibility reason;
};

// The state's name for the diagnostic trail ("asking", "downloading"...); "unknown" outside
// the seven.
const wchar_t* StateName(State state);

// The effects of entering `state`; a value outside the seven changes nothing.
StateEffects EffectsOf(State state);

// What a button's click does in a state. Buttons are hidden or disabled where they do
// nothing, but a click can still be sent to a hidden button, so the handlers ask these.
bool YesStartsDownload(State state);
bool NoStartsLocalWizard(State state);

enum class CancelAction { Nothing, Close, StartLocalWizardAndClose };
CancelAction CancelActionOf(State state);

}  // namespace ui

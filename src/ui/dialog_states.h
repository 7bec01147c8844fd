// The update dialog's six states and what entering each one does to its controls.
// Portable: the Win32 dialog applies these effects; the table itself is tested natively.
#pragma once

namespace ui {

constexpr int STATE_SETUP = 0;           // font and title being set up; never seen
constexpr int STATE_OS_UNSUPPORTED = 1;  // only a message and Close
constexpr int STATE_ASK = 2;             // Yes or No
constexpr int STATE_DOWNLOADING = 3;     // Cancel, animation plays
constexpr int STATE_STAGING = 4;         // Cancel visible but disabled
constexpr int STATE_FAILED = 5;          // Retry or No

// The settings texts a state can put on the message or a button.
enum class Text {
    Keep,  // leave the current text alone
    MessageOSCap,
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

struct ButtonEffect {
    Visibility visibility;
    Enabling enabling;
    Text caption;
};

// Applied in the order of the members: font and title, message, Yes, No, Cancel, animation;
// within a button: visibility, enabled flag, caption. Whatever says Keep keeps its look.
struct StateEffects {
    bool setUpFontAndTitle;
    Text message;
    ButtonEffect yes;
    ButtonEffect no;
    ButtonEffect cancel;
    Animation animation;
};

// The state's name for the diagnostic trail ("asking", "downloading"...); "unknown" outside
// the six.
const wchar_t* StateName(int state);

// The effects of entering `state`; a value outside the six changes nothing.
StateEffects EffectsOf(int state);

// What a button's click does in a state. Buttons are hidden or disabled where they do
// nothing, but a click can still be sent to a hidden button, so the handlers ask these.
bool YesStartsDownload(int state);
bool NoStartsLocalWizard(int state);

enum class CancelAction { Nothing, Close, StartLocalWizardAndClose };
CancelAction CancelActionOf(int state);

}  // namespace ui

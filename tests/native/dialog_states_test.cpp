#include "ui/dialog_states.h"

#include <gtest/gtest.h>

#include <set>
#include <string>
#include <vector>

namespace {

using namespace ui;

// A model of the dialog's controls, as the template creates them: every control visible
// and enabled, showing its placeholder.
struct Control {
    bool visible = true;
    bool enabled = true;
    std::string text;
};

struct DialogModel {
    Control message{true, true, "UpdMes"};
    Control yes{true, true, "YesBtn"};
    Control no{true, true, "NoBtn"};
    Control cancel{true, true, "CanBtn"};
    bool pictureVisible = true;
    bool animating = false;
    bool progressVisible = false;  // hidden in the template
    bool reasonVisible = false;    // hidden in the template
    bool sizeVisible = false;      // hidden in the template
    bool lineVisible = false;      // hidden in the template
};

std::string Name(Text text)
{
    switch (text) {
    case Text::Keep: return "";
    case Text::MessageOSCap: return "MessageOSCap";
    case Text::MessageWizardRefused: return "MessageWizardRefused";
    case Text::MessageUpdate: return "MessageUpdate";
    case Text::MessageDownload: return "MessageDownload";
    case Text::DownloadError: return "DownloadError";
    case Text::YesBtn: return "YesBtnText";
    case Text::RetryBtn: return "RetryBtn";
    case Text::NoBtn: return "NoBtnText";
    case Text::CloseBtn: return "CloseBtn";
    case Text::CancelBtn: return "CancelBtn";
    }
    return "?";
}

void Apply(Text text, Control& control)
{
    if (text != Text::Keep) control.text = Name(text);
}

void Apply(const ButtonEffect& effect, Control& button)
{
    if (effect.visibility != Visibility::Keep)
        button.visible = effect.visibility == Visibility::Show;
    if (effect.enabling != Enabling::Keep) button.enabled = effect.enabling == Enabling::Enable;
    Apply(effect.caption, button);
}

void Enter(State state, DialogModel& d)
{
    const StateEffects e = EffectsOf(state);
    Apply(e.message, d.message);
    Apply(e.yes, d.yes);
    Apply(e.no, d.no);
    Apply(e.cancel, d.cancel);
    if (e.animation == Animation::Start) {
        d.pictureVisible = true;
        d.animating = true;
    } else if (e.animation == Animation::StopAndHide) {
        d.pictureVisible = false;
        d.animating = false;
    }
    if (e.progress != ProgressBar::Keep) d.progressVisible = e.progress == ProgressBar::ShowEmpty;
    if (e.reason != Visibility::Keep) d.reasonVisible = e.reason == Visibility::Show;
    if (e.size != Visibility::Keep) d.sizeVisible = e.size == Visibility::Show;
    if (e.line != Visibility::Keep) d.lineVisible = e.line == Visibility::Show;
}

std::string Look(const Control& c)
{
    if (!c.visible) return "-";
    return c.text + (c.enabled ? "" : " (disabled)");
}

struct StateCase {
    State state;
    const char* message;
    const char* yes;
    const char* no;
    const char* cancel;
};

void ExpectRow(const DialogModel& d, const StateCase& c)
{
    SCOPED_TRACE(static_cast<int>(c.state));
    EXPECT_EQ(Look(d.message), c.message);
    EXPECT_EQ(Look(d.yes), c.yes);
    EXPECT_EQ(Look(d.no), c.no);
    EXPECT_EQ(Look(d.cancel), c.cancel);
}

// Each state as the user sees it when entered from the one before it in a real run.
TEST(DialogStates, EachStateShowsItsRowAfterTheStateBeforeIt)
{
    const StateCase run[] = {
        {STATE_SETUP, "UpdMes", "YesBtn", "NoBtn", "CanBtn"},
        {STATE_ASK, "MessageUpdate", "YesBtnText", "NoBtnText", "-"},
        {STATE_DOWNLOADING, "MessageDownload", "-", "-", "CancelBtn"},
        {STATE_STAGING, "MessageDownload", "-", "-", "CancelBtn (disabled)"},
        {STATE_FAILED, "DownloadError", "RetryBtn", "NoBtnText", "-"},
        {STATE_DOWNLOADING, "MessageDownload", "-", "-", "CancelBtn"},
        {STATE_FAILED, "DownloadError", "RetryBtn", "NoBtnText", "-"},
    };
    DialogModel d;
    for (const StateCase& c : run) {
        Enter(c.state, d);
        ExpectRow(d, c);
    }

    // The ends entered straight from set-up: an unsupported system, and a local wizard that
    // failed its check on the quiet path. Only why, and Close.
    const StateCase ends[] = {
        {STATE_OS_UNSUPPORTED, "MessageOSCap", "-", "-", "CloseBtn"},
        {STATE_WIZARD_REFUSED, "MessageWizardRefused", "-", "-", "CloseBtn"},
    };
    for (const StateCase& c : ends) {
        DialogModel end;
        Enter(STATE_SETUP, end);
        Enter(c.state, end);
        ExpectRow(end, c);
        EXPECT_FALSE(end.animating);
        EXPECT_FALSE(end.progressVisible);
        EXPECT_FALSE(end.lineVisible);
    }
}

TEST(DialogStates, AnimationAndProgressShowWhileDownloadingAndGoOnFailure)
{
    DialogModel d;
    Enter(STATE_SETUP, d);
    Enter(STATE_ASK, d);
    EXPECT_FALSE(d.animating);
    EXPECT_FALSE(d.progressVisible);
    EXPECT_TRUE(d.sizeVisible);  // the size goes with the question, in the bar's place
    EXPECT_FALSE(d.lineVisible);
    Enter(STATE_DOWNLOADING, d);
    EXPECT_TRUE(d.animating);
    EXPECT_TRUE(d.progressVisible);
    EXPECT_TRUE(d.lineVisible);
    EXPECT_FALSE(d.sizeVisible);
    Enter(STATE_STAGING, d);  // all stay while the package is staged, the line's last figures too
    EXPECT_TRUE(d.animating);
    EXPECT_TRUE(d.progressVisible);
    EXPECT_TRUE(d.lineVisible);
    EXPECT_FALSE(d.reasonVisible);
    Enter(STATE_FAILED, d);
    EXPECT_FALSE(d.animating);
    EXPECT_FALSE(d.pictureVisible);
    EXPECT_FALSE(d.progressVisible);
    EXPECT_FALSE(d.lineVisible) << "the reason takes the line's place";
    EXPECT_TRUE(d.reasonVisible) << "the failed view says why";
    EXPECT_FALSE(d.sizeVisible);
    Enter(STATE_DOWNLOADING, d);  // Retry shows them again, and the reason goes
    EXPECT_TRUE(d.animating);
    EXPECT_TRUE(d.pictureVisible);
    EXPECT_TRUE(d.progressVisible);
    EXPECT_TRUE(d.lineVisible);
    EXPECT_FALSE(d.reasonVisible);
    Enter(STATE_FAILED, d);
    Enter(STATE_WIZARD_REFUSED, d);  // the message says it all there
    EXPECT_FALSE(d.reasonVisible);
    EXPECT_FALSE(d.lineVisible);
}

TEST(DialogStates, OnlySetupSetsFontAndTitleAndUnknownStatesChangeNothing)
{
    // The trail names each state by a name of its own; every unknown value by one other name.
    std::set<std::wstring> names;
    for (int value = 0; value <= 6; ++value) {
        const std::wstring name = StateName(static_cast<State>(value));
        EXPECT_FALSE(name.empty()) << value;
        EXPECT_TRUE(names.insert(name).second) << value << " shares its name";
    }
    const std::wstring unknown = StateName(static_cast<State>(-1));
    EXPECT_FALSE(unknown.empty());
    EXPECT_EQ(names.count(unknown), 0u);
    EXPECT_EQ(StateName(static_cast<State>(7)), unknown);

    for (int value = -1; value <= 7; ++value) {
        const StateEffects e = EffectsOf(static_cast<State>(value));
        EXPECT_EQ(e.setUpFontAndTitle, value == 0) << value;
    }
    for (int value : {-1, 7, 100}) {
        DialogModel d;
        Enter(STATE_SETUP, d);
        Enter(STATE_ASK, d);
        Enter(static_cast<State>(value), d);
        EXPECT_EQ(Look(d.message), "MessageUpdate");
        EXPECT_EQ(Look(d.yes), "YesBtnText");
        EXPECT_EQ(Look(d.no), "NoBtnText");
        EXPECT_EQ(Look(d.cancel), "-");
    }
}

// Every path through the transitions the dialog can take: after set-up no placeholder is
// ever visible, and No and Cancel (which lie on top of each other) never show together.
TEST(DialogStates, NoPlaceholderAndNeverNoWithCancelOnAnyPath)
{
    const std::vector<std::vector<State>> paths = {
        {STATE_OS_UNSUPPORTED},
        {STATE_ASK, STATE_DOWNLOADING, STATE_STAGING, STATE_FAILED, STATE_DOWNLOADING, STATE_FAILED,
         STATE_DOWNLOADING, STATE_STAGING},
        {STATE_ASK, STATE_DOWNLOADING, STATE_FAILED, STATE_DOWNLOADING, STATE_STAGING,
         STATE_FAILED},
    };
    for (const auto& path : paths) {
        DialogModel d;
        Enter(STATE_SETUP, d);
        for (State state : path) {
            Enter(state, d);
            SCOPED_TRACE(static_cast<int>(state));
            for (const Control* c : {&d.message, &d.yes, &d.no, &d.cancel}) {
                EXPECT_FALSE(c->visible && (c->text == "UpdMes" || c->text == "YesBtn" ||
                                            c->text == "NoBtn" || c->text == "CanBtn"))
                    << c->text;
            }
            EXPECT_FALSE(d.no.visible && d.cancel.visible);
            // Whatever shows does something: every visible enabled button has a handler here.
            if (d.yes.visible) EXPECT_TRUE(YesStartsDownload(state));
            if (d.no.visible) EXPECT_TRUE(NoStartsLocalWizard(state));
            if (d.cancel.visible && d.cancel.enabled)
                EXPECT_NE(CancelActionOf(state), CancelAction::Nothing);
        }
    }
}

TEST(DialogStates, ButtonsActOnlyInTheStatesThatOfferThem)
{
    struct Row {
        State state;
        bool yes;
        bool no;
        CancelAction cancel;
    };
    const Row rows[] = {
        {STATE_SETUP, false, false, CancelAction::Nothing},
        {STATE_OS_UNSUPPORTED, false, false, CancelAction::Close},
        {STATE_ASK, true, true, CancelAction::Nothing},
        {STATE_DOWNLOADING, false, false, CancelAction::StartLocalWizardAndClose},
        {STATE_STAGING, false, false, CancelAction::Nothing},
        {STATE_FAILED, true, true, CancelAction::Nothing},
        {STATE_WIZARD_REFUSED, false, false, CancelAction::Close},
        {static_cast<State>(-1), false, false, CancelAction::Nothing},
        {static_cast<State>(7), false, false, CancelAction::Nothing},
    };
    for (const Row& r : rows) {
        SCOPED_TRACE(static_cast<int>(r.state));
        EXPECT_EQ(YesStartsDownload(r.state), r.yes);
        EXPECT_EQ(NoStartsLocalWizard(r.state), r.no);
        EXPECT_EQ(CancelActionOf(r.state), r.cancel);
    }
}

}  // namespace

#include "ui/dialog_states.h"

namespace ui {

namespace {

constexpr ButtonEffect kKeep = {Visibility::Keep, Enabling::Keep, Text::Keep};
constexpr ButtonEffect kHide = {Visibility::Hide, Enabling::Keep, Text::Keep};

constexpr ButtonEffect Shown(Text caption) { return {Visibility::Show, Enabling::Keep, caption}; }

}  // namespace

const wchar_t* StateName(State state)
{
    switch (state) {
    case STATE_SETUP: return L"setting up";
    case STATE_OS_UNSUPPORTED: return L"system not supported";
    case STATE_ASK: return L"asking";
    case STATE_DOWNLOADING: return L"downloading";
    case STATE_STAGING: return L"staging";
    case STATE_FAILED: return L"failed";
    case STATE_WIZARD_REFUSED: return L"wizard refused";
    default: return L"unknown";
    }
}

StateEffects EffectsOf(State state)
{
    // The last three: the download line, the package's size, then the failure's reason line.
    // clang-format off
    switch (state) {
    case STATE_SETUP:
        return {true, Text::Keep, kKeep, kKeep, kKeep, Animation::Keep, ProgressBar::Keep,
                Visibility::Keep, Visibility::Keep, Visibility::Keep};
    case STATE_OS_UNSUPPORTED:
        return {false, Text::MessageOSCap, kHide, kHide, Shown(Text::CloseBtn), Animation::Keep,
                ProgressBar::Keep, Visibility::Hide, Visibility::Hide, Visibility::Hide};
    case STATE_ASK:
        return {false, Text::MessageUpdate, Shown(Text::YesBtn), Shown(Text::NoBtn), kHide,
                Animation::Keep, ProgressBar::Keep, Visibility::Hide, Visibility::Show,
                Visibility::Hide};
    case STATE_DOWNLOADING:
        return {false, Text::MessageDownload, kHide, kHide,
                {Visibility::Show, Enabling::Enable, Text::CancelBtn}, Animation::Start,
                ProgressBar::ShowEmpty, Visibility::Show, Visibility::Hide, Visibility::Hide};
    case STATE_STAGING:
        return {false, Text::Keep, kKeep, kKeep,
                {Visibility::Keep, Enabling::Disable, Text::Keep}, Animation::Keep,
                ProgressBar::Keep, Visibility::Keep, Visibility::Keep, Visibility::Keep};
    case STATE_FAILED:
        return {false, Text::DownloadError, Shown(Text::RetryBtn), Shown(Text::NoBtn), kHide,
                Animation::StopAndHide, ProgressBar::Hide, Visibility::Hide, Visibility::Hide,
                Visibility::Show};
    case STATE_WIZARD_REFUSED:
        return {false, Text::MessageWizardRefused, kHide, kHide, Shown(Text::CloseBtn),
                Animation::StopAndHide, ProgressBar::Hide, Visibility::Hide, Visibility::Hide,
                Visibility::Hide};
    default:
        return {false, Text::Keep, kKeep, kKeep, kKeep, Animation::Keep, ProgressBar::Keep,
                Visibility::Keep, Visibility::Keep, Visibility::Keep};
    }
    // clang-format on
}

bool YesStartsDownload(State state) { return state == STATE_ASK || state == STATE_FAILED; }

bool NoStartsLocalWizard(State state) { return state == STATE_ASK || state == STATE_FAILED; }

CancelAction CancelActionOf(State state)
{
    if (state == STATE_OS_UNSUPPORTED || state == STATE_WIZARD_REFUSED) return CancelAction::Close;
    if (state == STATE_DOWNLOADING) return CancelAction::StartLocalWizardAndClose;
    return CancelAction::Nothing;
}

}  // namespace ui

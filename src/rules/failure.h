// Why an update failed, as one value: the step that failed and its cause. The update flow
// records it, the dialog shows it (a line in the user's language with a code a support desk can
// look up), the diagnostic trail writes it once ("failure: download/stalled") and the tests
// assert on it. Portable: the names, the codes and the texts built in for each language.
#pragma once
#include <cstddef>
#include <string>

namespace rules {

// Offer: the control file's signature, judged at start-up; it ends with the local wizard at once
// and no window, so its causes reach the trail only.
enum class FailureStep { Start, Download, Check, Staging, Wizard, HandOver, Offer };

// Each cause keeps its code for good: support desks and old screenshots refer to them.
enum class FailureCause {
    NoConnection,        // M-101 no connection, or the server does not answer
    ServerError,         // M-102 the server answered with an error instead of the package
    ProxyAuth,           // M-103 the proxy asks for credentials
    CertUnknownRoot,     // M-111 the server's certificate comes from an unknown authority
    CertWrongName,       // M-112 the server's certificate is for another name
    CertExpired,         // M-113 the server's certificate has expired
    CertRevoked,         // M-114 the server's certificate was revoked
    CertInvalid,         // M-115 the server's certificate is not valid
    InsecureRedirect,    // M-116 a secure download was sent to an insecure address
    Cut,                 // M-121 the download was cut
    Stalled,             // M-122 no byte arrived for 30 s
    DiskFull,            // M-131 not enough disk space
    BadSignature,        // M-201 the package's signature is not valid
    OtherSigner,         // M-202 the package is signed by someone else
    NotTheOffer,         // M-203 the package is not the one offered
    SignerRevoked,       // M-204 the package's signer was revoked
    UnpackFailed,        // M-301 the package could not unpack
    WizardRefused,       // M-401 the new wizard was refused
    WizardNotStarted,    // M-402 the new wizard could not start
    LocalWizardRefused,  // M-403 the installed wizard failed its check and was not started
    NoWorker,            // M-501 the update could not begin (no worker, no work folder)
    OfferUnsigned,       // M-601 the control file carries no signature section
    OfferBadSignature,   // M-602 its signature is malformed, fails, or has no trusted chain
    OfferOtherSigner,    // M-603 it is signed by someone else
    OfferRevoked,        // M-604 its signer was revoked
    OfferExpired,        // M-605 it is past its Expires= (or that value is malformed)
};
constexpr size_t kFailureCauseCount = static_cast<size_t>(FailureCause::OfferExpired) + 1;

// The causes of step Offer. Their names ("unsigned", "bad-signature"...) are read after
// "offer/", so they may repeat a package cause's name; their codes are their own.
bool IsOfferCause(FailureCause cause);

struct Failure {
    FailureStep step = FailureStep::Start;
    FailureCause cause = FailureCause::NoWorker;
};

// For the trail: "download", "check"...
const wchar_t* StepName(FailureStep step);
// For the trail: "stalled", "other-signer"...
const wchar_t* CauseName(FailureCause cause);
// "download/stalled": what the trail's "failure:" line and the tests carry.
std::wstring FailureName(const Failure& failure);
// The code shown to the user: "M-122".
const wchar_t* FailureCode(FailureCause cause);
// The uistrings.ini key a language folder may give the cause's text under: "ReasonM122".
std::wstring ReasonKey(FailureCause cause);
// The cause's text built in for a language folder ("English", "Spanish", "French",
// "Portuguese"; English for any other).
const wchar_t* BuiltInReason(FailureCause cause, const std::wstring& languageFolder);
// The line under the failed view's message: "<text> (M-122)".
std::wstring ReasonLine(const std::wstring& text, FailureCause cause);

}  // namespace rules

// The update check: fetch the control file, read the offered revision, compare.
#include "app/morvane_app.h"

#include <windows.h>
#include <shlwapi.h>

#include <vector>

#include "app/ini_text.h"
#include "app/rollout_rules.h"
#include "app/startup_rules.h"
#include "rules/control_signature.h"
#include "rules/failure.h"
#include "rules/names.h"
#include "sys/control_fetch.h"
#include "sys/http_rules.h"
#include "sys/machine_id.h"
#include "sys/offer_signature.h"
#include "sys/trust_rules.h"
#include "win/trail.h"
#include "rules/wstr.h"

namespace app {

namespace {

// No update: says why on the trail.
bool NoUpdate(const wchar_t* why)
{
    win::Trail(std::wstring(L"update check: no update, ") + why);
    return false;
}

// Whether the section has the key at all: no default can tell an absent key from one that
// holds the default, but two different defaults can.
bool HasKey(const app::IniText& control, const std::wstring& section, const wchar_t* key)
{
    return control.RawValue(section, key, L"\x01") != L"\x01" ||
           control.RawValue(section, key, L"\x02") != L"\x02";
}

// DownloadUrl2, DownloadUrl3, ...: further addresses of the same package, tried in order when
// one before fails. Each is held to DownloadUrl's rules; one that fails them is never tried.
void ReadMirrors(const app::IniText& control, const std::wstring& section, settings::Offer* offer)
{
    for (int i = 2; i <= settings::kMaxDownloadUrls; ++i) {
        const std::wstring key = L"DownloadUrl" + rules::Decimal(static_cast<unsigned>(i));
        const std::wstring url = control.Value(section, key.c_str(), L"");
        if (url.empty()) continue;
        if (app::PackageName(url).empty()) {
            win::Trail(L"update check: " + key +
                       L" is no http or https URL ending in a plain file name; not tried");
            continue;
        }
        offer->mirrorUrls.push_back(url);
    }
}

// The staged rollout: whether this machine's bucket is among the percentage the section
// offers the revision to. The trail names the bucket either way.
bool ReachesThisMachine(const app::IniText& control, const std::wstring& section,
                        std::int32_t revision)
{
    const app::RolloutPercent rollout = app::ParseRollout(HasKey(control, section, L"Rollout"),
                                                          control.Value(section, L"Rollout", L""));
    const std::wstring machine = sys::MachineGuid();
    const unsigned bucket = app::RolloutBucket(machine, section, revision);
    const bool reached = app::IsInRollout(bucket, rollout.percent);
    win::Trail(L"update check: rollout " + rules::Decimal(rollout.percent) + L"%" +
               (rollout.valid ? L"" : L" (Rollout is not a whole number from 0 to 100: halted)") +
               L", this machine is in bucket " + rules::Decimal(bucket) +
               (machine.empty() ? L" (no MachineGuid: the last bucket)" : L"") +
               (reached ? L", offered" : L", not offered"));
    return reached;
}

// An offer refused for its signature or its age: the failure once on the trail, and no update.
bool RefuseOffer(rules::FailureCause cause, const std::wstring& why)
{
    win::Trail(L"update check: the offer is refused, " + why);
    win::Trail(L"failure: " + rules::FailureName({rules::FailureStep::Offer, cause}));
    return false;
}

rules::FailureCause CauseOf(sys::OfferVerdict verdict)
{
    switch (verdict) {
    case sys::OfferVerdict::OtherSigner: return rules::FailureCause::OfferOtherSigner;
    case sys::OfferVerdict::Revoked: return rules::FailureCause::OfferRevoked;
    case sys::OfferVerdict::Accepted:
    case sys::OfferVerdict::BadSignature: break;
    }
    return rules::FailureCause::OfferBadSignature;
}

// Until the [Morvane] section's Expires= (when the body has one), judged against this
// machine's clock now: an older signed offer replayed after it offers nothing.
bool IsOfferCurrent(const app::IniText& control)
{
    if (!HasKey(control, L"Morvane", L"Expires")) return true;
    const std::wstring text = control.Value(L"Morvane", L"Expires", L"");
    std::int64_t expires = 0;
    if (!rules::ParseUtcTime(text, &expires))
        return RefuseOffer(rules::FailureCause::OfferExpired,
                           L"Expires=" + text + L" is not of the form YYYY-MM-DDTHH:MM:SSZ");
    FILETIME now{};
    ::GetSystemTimeAsFileTime(&now);
    const std::int64_t seconds = rules::UnixSecondsFromFileTime(
        (static_cast<std::uint64_t>(now.dwHighDateTime) << 32) | now.dwLowDateTime);
    if (rules::IsExpired(expires, seconds))
        return RefuseOffer(
            rules::FailureCause::OfferExpired,
            L"it expired at " + text + L"; it is now " + rules::FormatUtcTime(seconds));
    return true;
}

}  // namespace

bool CMorvaneApp::IsOfferTrusted(const unsigned char* bytes, rules::ControlForm form,
                                 const rules::SignedControl& split)
{
    if (form != rules::ControlForm::Signed)
        return RefuseOffer(form == rules::ControlForm::Unsigned
                               ? rules::FailureCause::OfferUnsigned
                               : rules::FailureCause::OfferBadSignature,
                           rules::DescribeControlForm(form));
    // The revocation servers get what is left of start-up's network budget, so the wizard
    // still starts in time when they are silent.
    const unsigned long left = m_networkDeadline.RemainingMs();
    const sys::OfferVerdict verdict =
        sys::CheckOfferSignature(bytes, split.bodyLength, split.signature, sys::BuiltInKeyPins(),
                                 left < sys::kRevocationBudgetMs ? left : sys::kRevocationBudgetMs);
    if (verdict != sys::OfferVerdict::Accepted)
        return RefuseOffer(CauseOf(verdict), sys::DescribeOfferVerdict(verdict));
    const app::IniText body(bytes, split.bodyLength);
    return IsOfferCurrent(body);
}

int CMorvaneApp::CheckForUpdate()
{
    // Without a temporary folder there is nothing to offer, and the server is not asked. (The
    // update itself works in a folder of its own under the Windows folder, not in TEMP.)
    if (!::PathIsDirectoryW(m_values.installation.tempDir.c_str()))
        return NoUpdate(L"the temporary folder does not exist");
    // Read from the fetched bytes: a copy in the user's temporary folder could be rewritten
    // between one read and the next.
    std::vector<char> body;
    if (!sys::FetchControlFile(m_values.settings.installerCtlFile, m_networkDeadline, &body))
        return NoUpdate(L"control file could not be fetched");
    // The offer is read from the body alone: what follows the signature is nobody's word.
    const auto* bytes = reinterpret_cast<const unsigned char*>(body.data());
    rules::SignedControl split;
    const rules::ControlForm form = rules::SplitControlFile(bytes, body.size(), &split);
    const app::IniText control(bytes,
                               form == rules::ControlForm::Signed ? split.bodyLength : body.size());

    const std::wstring& section = m_values.settings.drvName;
    settings::Offer offer;
    offer.downloadUrl = control.Value(section, L"DownloadUrl", L"");
    // The package's name comes from the network: anything but a plain file name (empty, ".",
    // "..", a separator, a device) could put the package outside the temp folder.
    offer.packageName = app::PackageName(offer.downloadUrl);
    if (!rules::IsWebUrl(offer.downloadUrl))
        return NoUpdate(L"DownloadUrl is not an http or https URL");
    if (offer.packageName.empty())
        return NoUpdate(L"DownloadUrl does not end in a plain file name");
    ReadMirrors(control, section, &offer);

    // ExePath decides what runs elevated and what the clean-up deletes.
    offer.exePath = control.Value(section, L"ExePath", L"");
    if (!rules::IsSafeExePath(offer.exePath))
        return NoUpdate(L"ExePath is not a file in a folder below the temporary folder");
    offer.revision = ::StrToIntW(control.Value(section, L"Revision", L"0").c_str());
    // Size= bounds the download; a value that is not a byte count the download could accept
    // offers nothing rather than a download without its bound.
    if (HasKey(control, section, L"Size") &&
        !app::ParseByteCount(control.Value(section, L"Size", L""), sys::kPackageLimitBytes,
                             &offer.packageSize))
        return NoUpdate(L"Size is not a byte count from 1 to 2 GiB");
    const std::int32_t local = m_values.settings.installerRevision;
    const bool newer =
        app::IsUpdateOffered(offer.downloadUrl, offer.exePath, offer.revision, local);
    win::Trail(L"update check: revision " + rules::Decimal(static_cast<unsigned>(offer.revision)) +
               (newer ? L" offered, newer than " : L" offered, not newer than ") +
               rules::Decimal(static_cast<unsigned>(local)));
    m_values.offer = offer;
    if (!newer || !ReachesThisMachine(control, section, offer.revision)) return 0;
    // Only an offer that would ask is judged: a control file offering nothing newer costs no
    // cryptography.
    if (!IsOfferTrusted(bytes, form, split)) {
        m_values.offer = settings::Offer();
        return 0;
    }
    return 1;
}

}  // namespace app

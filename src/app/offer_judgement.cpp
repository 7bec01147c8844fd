#include "app/offer_judgement.h"

#include <windows.h>
#include <shlwapi.h>

#include "app/ini_text.h"
#include "app/rollout_rules.h"
#include "app/startup_rules.h"
#include "rules/control_signature.h"
#include "rules/names.h"
#include "rules/wstr.h"
#include "sys/http_rules.h"
#include "sys/machine_id.h"
#include "sys/offer_signature.h"
#include "sys/trust_rules.h"
#include "win/trail.h"

namespace app {

namespace {

// Whether the section has the key at all: no default can tell an absent key from one that
// holds the default, but two different defaults can.
bool HasKey(const app::IniText& control, const std::wstring& section, const wchar_t* key)
{
    return control.RawValue(section, key, L"\x01") != L"\x01" ||
           control.RawValue(section, key, L"\x02") != L"\x02";
}

// One judgement, with every decision said on the trail as it is taken.
class OfferJudge {
public:
    OfferJudge(const std::wstring& drvName, std::int32_t installedRevision,
               const win::Deadline& deadline, std::optional<unsigned> bucket)
        : m_section(drvName), m_local(installedRevision), m_deadline(deadline), m_bucket(bucket)
    {
    }

    OfferJudgement Judge(const std::vector<char>& body);

private:
    // No update: says why on the trail.
    OfferJudgement& NoUpdate(const std::wstring& why)
    {
        win::Trail(L"update check: no update, " + why);
        m_result.why = why;
        return m_result;
    }

    // An offer refused for its signature or its age: the failure once on the trail.
    bool RefuseOffer(rules::FailureCause cause, const std::wstring& why)
    {
        win::Trail(L"update check: the offer is refused, " + why);
        win::Trail(L"failure: " + rules::FailureName({rules::FailureStep::Offer, cause}));
        m_result.outcome = OfferOutcome::Refused;
        m_result.cause = cause;
        m_result.why = why;
        m_result.offer = settings::Offer();
        return false;
    }

    void ReadMirrors(const app::IniText& control, settings::Offer* offer);
    bool ReachesThisMachine(const app::IniText& control, std::int32_t revision);
    bool IsOfferTrusted(const unsigned char* bytes, rules::ControlForm form,
                        const rules::SignedControl& split);
    bool IsOfferCurrent(const app::IniText& control);

    const std::wstring& m_section;
    const std::int32_t m_local;
    const win::Deadline& m_deadline;
    const std::optional<unsigned> m_bucket;
    OfferJudgement m_result;
};

// DownloadUrl2, DownloadUrl3, ...: further addresses of the same package, tried in order when
// one before fails. Each is held to DownloadUrl's rules; one that fails them is never tried.
void OfferJudge::ReadMirrors(const app::IniText& control, settings::Offer* offer)
{
    for (int i = 2; i <= settings::kMaxDownloadUrls; ++i) {
        const std::wstring key = L"DownloadUrl" + rules::Decimal(static_cast<unsigned>(i));
        const std::wstring url = control.Value(m_section, key.c_str(), L"");
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
bool OfferJudge::ReachesThisMachine(const app::IniText& control, std::int32_t revision)
{
    const app::RolloutPercent rollout = app::ParseRollout(
        HasKey(control, m_section, L"Rollout"), control.Value(m_section, L"Rollout", L""));
    // A bucket given by the caller stands for a machine the caller asks about, not this one.
    const std::wstring machine = m_bucket ? std::wstring() : sys::MachineGuid();
    const unsigned bucket = m_bucket ? *m_bucket : app::RolloutBucket(machine, m_section, revision);
    const bool reached = app::IsInRollout(bucket, rollout.percent);
    const std::wstring why =
        L"rollout " + rules::Decimal(rollout.percent) + L"%" +
        (rollout.valid ? L"" : L" (Rollout is not a whole number from 0 to 100: halted)") +
        L", this machine is in bucket " + rules::Decimal(bucket) +
        (!m_bucket && machine.empty() ? L" (no MachineGuid: the last bucket)" : L"");
    win::Trail(L"update check: " + why + (reached ? L", offered" : L", not offered"));
    m_result.rolloutPercent = rollout.percent;
    m_result.bucket = bucket;
    if (!reached) m_result.why = why;
    return reached;
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
bool OfferJudge::IsOfferCurrent(const app::IniText& control)
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

// The offer is the maker's, signed and current; the trail says why not.
bool OfferJudge::IsOfferTrusted(const unsigned char* bytes, rules::ControlForm form,
                                const rules::SignedControl& split)
{
    if (form != rules::ControlForm::Signed)
        return RefuseOffer(form == rules::ControlForm::Unsigned
                               ? rules::FailureCause::OfferUnsigned
                               : rules::FailureCause::OfferBadSignature,
                           rules::DescribeControlForm(form));
    // The revocation servers get what is left of start-up's network budget, so the wizard
    // still starts in time when they are silent.
    const unsigned long left = m_deadline.RemainingMs();
    const sys::OfferVerdict verdict =
        sys::CheckOfferSignature(bytes, split.bodyLength, split.signature, sys::BuiltInKeyPins(),
                                 left < sys::kRevocationBudgetMs ? left : sys::kRevocationBudgetMs);
    if (verdict != sys::OfferVerdict::Accepted)
        return RefuseOffer(CauseOf(verdict), sys::DescribeOfferVerdict(verdict));
    const app::IniText body(bytes, split.bodyLength);
    return IsOfferCurrent(body);
}

OfferJudgement OfferJudge::Judge(const std::vector<char>& body)
{
    // The offer is read from the body alone: what follows the signature is nobody's word.
    const auto* bytes = reinterpret_cast<const unsigned char*>(body.data());
    rules::SignedControl split;
    const rules::ControlForm form = rules::SplitControlFile(bytes, body.size(), &split);
    const app::IniText control(bytes,
                               form == rules::ControlForm::Signed ? split.bodyLength : body.size());

    settings::Offer offer;
    offer.downloadUrl = control.Value(m_section, L"DownloadUrl", L"");
    // The package's name comes from the network: anything but a plain file name (empty, ".",
    // "..", a separator, a device) could put the package outside the temp folder.
    offer.packageName = app::PackageName(offer.downloadUrl);
    if (!rules::IsWebUrl(offer.downloadUrl))
        return NoUpdate(L"DownloadUrl is not an http or https URL");
    if (offer.packageName.empty())
        return NoUpdate(L"DownloadUrl does not end in a plain file name");
    ReadMirrors(control, &offer);

    // ExePath decides what runs elevated and what the clean-up deletes.
    offer.exePath = control.Value(m_section, L"ExePath", L"");
    if (!rules::IsSafeExePath(offer.exePath))
        return NoUpdate(L"ExePath is not a file in a folder below the temporary folder");
    offer.revision = ::StrToIntW(control.Value(m_section, L"Revision", L"0").c_str());
    // Size= bounds the download; a value that is not a byte count the download could accept
    // offers nothing rather than a download without its bound.
    if (HasKey(control, m_section, L"Size") &&
        !app::ParseByteCount(control.Value(m_section, L"Size", L""), sys::kPackageLimitBytes,
                             &offer.packageSize))
        return NoUpdate(L"Size is not a byte count from 1 to 2 GiB");
    const bool newer =
        app::IsUpdateOffered(offer.downloadUrl, offer.exePath, offer.revision, m_local);
    const std::wstring revisions =
        L"revision " + rules::Decimal(static_cast<unsigned>(offer.revision)) +
        (newer ? L" offered, newer than " : L" offered, not newer than ") +
        rules::Decimal(static_cast<unsigned>(m_local));
    win::Trail(L"update check: " + revisions);
    m_result.offer = offer;
    if (!newer) {
        m_result.why = revisions;
        return m_result;
    }
    if (!ReachesThisMachine(control, offer.revision)) return m_result;
    // Only an offer that would ask is judged: a control file offering nothing newer costs no
    // cryptography.
    if (IsOfferTrusted(bytes, form, split)) m_result.outcome = OfferOutcome::Offered;
    return m_result;
}

}  // namespace

OfferJudgement JudgeOffer(const std::vector<char>& body, const std::wstring& drvName,
                          std::int32_t installedRevision, const win::Deadline& deadline,
                          std::optional<unsigned> bucket)
{
    return OfferJudge(drvName, installedRevision, deadline, bucket).Judge(body);
}

}  // namespace app

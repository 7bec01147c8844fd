#include "update/package_check.h"

#include "rules/package_record.h"
#include "rules/wstr.h"
#include "sys/package_file.h"
#include "sys/revocation.h"
#include "sys/trust.h"
#include "win/trail.h"

namespace update {

namespace {

PackageJudgement Refused(rules::FailureCause cause, const std::wstring& why)
{
    PackageJudgement judgement;
    judgement.cause = cause;
    judgement.why = why;
    return judgement;
}

}  // namespace

PackageJudgement JudgePackage(const std::wstring& path, win::File file, const std::wstring& drvName,
                              std::int32_t installedRevision, const settings::Offer& offer,
                              sys::JudgedFile* judged)
{
    const sys::PackageVerdict verdict =
        sys::CheckOpenedPackage(path, std::move(file), sys::BuiltInKeyPins(), judged);
    if (verdict == sys::PackageVerdict::OtherSigner)
        return Refused(rules::FailureCause::OtherSigner,
                       L"signed by someone else (the signer's name or key)");
    if (verdict != sys::PackageVerdict::Accepted)
        return Refused(rules::FailureCause::BadSignature, L"no valid signature of a trusted chain");
    // A judged file whose signer has been revoked since it signed is refused; a revocation
    // server that does not answer within its limit is not a refusal.
    if (sys::CheckRevocation(*judged) == sys::Revocation::Revoked) {
        win::Trail(L"update: refused, the signer's certificate is revoked: " + path);
        *judged = sys::JudgedFile();
        return Refused(rules::FailureCause::SignerRevoked, L"the signer's certificate is revoked");
    }
    // A signature proves who made the package, not which package it is: its record, which the
    // signature covers, must name the offer itself. Read from the judged file, never by name.
    rules::PackageRecord record;
    if (!sys::ReadPackageRecord(judged->file.get(), &record)) {
        win::Trail(L"check: the package carries no record of what it is; refused");
        *judged = sys::JudgedFile();
        return Refused(rules::FailureCause::NotTheOffer,
                       L"the package carries no record of what it is");
    }
    const rules::RecordMatch match = rules::MatchPackageRecord(record, drvName, offer.revision,
                                                               installedRevision, offer.exePath);
    const std::wstring said =
        L"the package's record " + std::wstring(rules::DescribeRecordMatch(match));
    win::Trail(L"check: " + said);
    if (match == rules::RecordMatch::Matches) {
        PackageJudgement judgement;
        judgement.accepted = true;
        return judgement;
    }
    *judged = sys::JudgedFile();
    return Refused(rules::FailureCause::NotTheOffer,
                   said + L" (it names [" + record.section + L"] revision " +
                       rules::Decimal(record.revision) + L", " + record.folder + L"\\" +
                       record.wizard + L")");
}

rules::FailureCause DownloadCause(sys::NetFault fault)
{
    using rules::FailureCause;
    switch (fault) {
    case sys::NetFault::ProxyAuth: return FailureCause::ProxyAuth;
    case sys::NetFault::CertUnknownRoot: return FailureCause::CertUnknownRoot;
    case sys::NetFault::CertWrongName: return FailureCause::CertWrongName;
    case sys::NetFault::CertExpired: return FailureCause::CertExpired;
    case sys::NetFault::CertRevoked: return FailureCause::CertRevoked;
    case sys::NetFault::CertInvalid: return FailureCause::CertInvalid;
    case sys::NetFault::InsecureRedirect: return FailureCause::InsecureRedirect;
    case sys::NetFault::Cut: return FailureCause::Cut;
    case sys::NetFault::Stalled: return FailureCause::Stalled;
    case sys::NetFault::DiskFull: return FailureCause::DiskFull;
    case sys::NetFault::ServerError:
    case sys::NetFault::BadRedirect:
    case sys::NetFault::WrongSize: return FailureCause::ServerError;
    case sys::NetFault::None:
    case sys::NetFault::NoConnection:
    case sys::NetFault::Stopped: break;
    }
    return FailureCause::NoConnection;
}

}  // namespace update

// The package judged as the offer's, once it is stored: its signature, signer and key pins,
// its signer's revocation, and its record against what the control file offered. The update
// flow and the publisher's check (morvane-pack check) both ask this one function.
#pragma once
#include <cstdint>
#include <string>

#include "rules/failure.h"
#include "settings/values.h"
#include "sys/http_rules.h"
#include "sys/trust.h"
#include "win/handles.h"

namespace update {

struct PackageJudgement {
    bool accepted = false;
    rules::FailureCause cause = rules::FailureCause::BadSignature;  // when refused
    std::wstring why;                                               // when refused
};

// `file` is the stored package, opened as sys::OpenLocked opens it; `path` is its own path
// (see sys::CheckOpenedPackage). On acceptance `judged` holds the file, locked against writers,
// with what the check read of it; otherwise it is left empty.
PackageJudgement JudgePackage(const std::wstring& path, win::File file, const std::wstring& drvName,
                              std::int32_t installedRevision, const settings::Offer& offer,
                              sys::JudgedFile* judged);

// The download's fault as the user is told of it.
rules::FailureCause DownloadCause(sys::NetFault fault);

}  // namespace update

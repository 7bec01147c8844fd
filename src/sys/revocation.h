// Whether the signer of a judged file has been revoked since it signed.
//
// The signature check fetches nothing (sys::VerifyPackage); this asks the revocation servers
// the signer's chain names, on the caller's thread but within its own time limit. A revoked
// certificate refuses the file. No answer in time, or no way to ask, accepts it: a server that
// cannot be reached must not hold every update back, and the trail says which happened.
#pragma once
#include <windows.h>

#include <string>
#include <vector>

#include "sys/trust.h"

namespace sys {

enum class Revocation {
    NotRevoked,     // every certificate that names a revocation server was answered for: good
    Revoked,        // a certificate of the signer's chain is revoked: refuse
    NoAnswer,       // a server gave no answer in time (or none at all): accepted
    NoInformation,  // no certificate of the chain names a server: accepted, nothing fetched
};

// "not revoked", "revoked"... for the trail.
const wchar_t* DescribeRevocation(Revocation revocation);

// The whole check's limit, every server of the chain together.
constexpr unsigned long kRevocationBudgetMs = 5000;

// Checks the chain of the judged file's first signer (as CheckPackage read it) for revocation, each certificate against its issuer, and returns within `budgetMs` whatever the
// servers do: a check still running then is left to end on its own and counts as NoAnswer.
// A certificate without a CRL distribution point or an OCSP address costs no request.
Revocation CheckRevocation(const JudgedFile& judged, unsigned long budgetMs = kRevocationBudgetMs);
// The same for the first signer of a signature blob (a package's, or the control file's
// detached signature).
Revocation CheckSignatureRevocation(std::vector<unsigned char> signature,
                                    unsigned long budgetMs = kRevocationBudgetMs);

}  // namespace sys

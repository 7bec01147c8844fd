// The control file's detached signature: is the offer the maker's?
//
// Judged like the package's signer, by the same code (sys/trust.h, sys/revocation.h): a chain
// to a trusted root built from what is at hand, the signer rule and the key pins, the bounded
// revocation check. Only the first step is the control file's own: the detached CMS signature
// over the body's bytes, whose signed messageDigest we compare with the body's SHA-256
// ourselves (Wine's CryptVerifyDetachedMessageSignature checks the signature over the signed
// attributes but never that digest).
#pragma once
#include <windows.h>

#include <cstddef>
#include <vector>

#include "sys/revocation.h"
#include "sys/trust_rules.h"

namespace sys {

enum class OfferVerdict {
    Accepted,
    BadSignature,  // not a signature, one that does not verify over the body, or no trusted chain
    OtherSigner,   // a sound signature by a signer without the maker's mark or pinned key
    Revoked,       // a certificate of the signer's chain is revoked
};

// "accepted", "bad signature"... for the trail.
const wchar_t* DescribeOfferVerdict(OfferVerdict verdict);

// Judges `signature` (DER CMS SignedData, detached) over the `length` bytes of `body`, with
// `pins` (sys::BuiltInKeyPins in the product) and the revocation check's limit. The trail says
// what failed.
OfferVerdict CheckOfferSignature(const unsigned char* body, size_t length,
                                 const std::vector<unsigned char>& signature,
                                 const sys::KeyPins& pins,
                                 unsigned long revocationBudgetMs = kRevocationBudgetMs);

}  // namespace sys

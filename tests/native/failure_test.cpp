#include "rules/failure.h"
#include "sys/http_rules.h"

#include <gtest/gtest.h>

#include <set>
#include <string>

namespace {

using rules::FailureCause;

// Support desks look codes up: each cause has its own code, name, key and text in every
// language, and the codes are kept for good.
TEST(Failure, EveryCauseHasItsOwnCodeNameKeyAndTexts)
{
    // An offer cause is read after "offer/": its name need only differ from the other offer
    // causes'.
    std::set<std::wstring> codes, names, offerNames, keys;
    for (size_t i = 0; i < rules::kFailureCauseCount; ++i) {
        const auto cause = static_cast<FailureCause>(i);
        codes.insert(rules::FailureCode(cause));
        (rules::IsOfferCause(cause) ? offerNames : names).insert(rules::CauseName(cause));
        keys.insert(rules::ReasonKey(cause));
        std::set<std::wstring> texts;
        for (const wchar_t* language : {L"English", L"Spanish", L"French", L"Portuguese"}) {
            const std::wstring text = rules::BuiltInReason(cause, language);
            EXPECT_FALSE(text.empty()) << i;
            texts.insert(text);
        }
        EXPECT_EQ(texts.size(), 4u) << "a text of its own in each language: " << i;
        EXPECT_EQ(rules::BuiltInReason(cause, L"German"), rules::BuiltInReason(cause, L"English"));
    }
    EXPECT_EQ(codes.size(), rules::kFailureCauseCount);
    EXPECT_EQ(names.size() + offerNames.size(), rules::kFailureCauseCount);
    EXPECT_EQ(offerNames.size(), 5u);
    EXPECT_EQ(keys.size(), rules::kFailureCauseCount);

    // Codes and names are kept for good (support desks, the trail, old screenshots), and the
    // English texts are the ones README's table shows.
    const struct {
        FailureCause cause;
        const wchar_t* code;
        const wchar_t* name;
        const wchar_t* english;
    } kept[] = {
        {FailureCause::NoConnection, L"M-101", L"no-connection",
         L"No connection, or the server does not answer."},
        {FailureCause::ServerError, L"M-102", L"server-error",
         L"The server did not send the update."},
        {FailureCause::ProxyAuth, L"M-103", L"proxy-auth",
         L"The proxy server asks for credentials."},
        {FailureCause::CertUnknownRoot, L"M-111", L"certificate-unknown-root",
         L"The server's certificate comes from an unknown authority."},
        {FailureCause::CertWrongName, L"M-112", L"certificate-wrong-name",
         L"The server's certificate is for another name."},
        {FailureCause::CertExpired, L"M-113", L"certificate-expired",
         L"The server's certificate has expired."},
        {FailureCause::CertRevoked, L"M-114", L"certificate-revoked",
         L"The server's certificate was revoked."},
        {FailureCause::CertInvalid, L"M-115", L"certificate-invalid",
         L"The server's certificate is not valid."},
        {FailureCause::InsecureRedirect, L"M-116", L"insecure-redirect",
         L"The secure download was sent to an insecure address."},
        {FailureCause::Cut, L"M-121", L"cut", L"The download was cut off."},
        {FailureCause::Stalled, L"M-122", L"stalled", L"The download stopped for 30 seconds."},
        {FailureCause::DiskFull, L"M-131", L"disk-full", L"There is not enough disk space."},
        {FailureCause::BadSignature, L"M-201", L"bad-signature",
         L"The update's signature is not valid."},
        {FailureCause::OtherSigner, L"M-202", L"other-signer",
         L"The update is signed by someone else."},
        {FailureCause::NotTheOffer, L"M-203", L"not-the-offer",
         L"The update is not the one offered."},
        {FailureCause::SignerRevoked, L"M-204", L"signer-revoked",
         L"The update's signing certificate was revoked."},
        {FailureCause::UnpackFailed, L"M-301", L"unpack-failed",
         L"The update could not be unpacked."},
        {FailureCause::WizardRefused, L"M-401", L"wizard-refused", L"The new wizard was refused."},
        {FailureCause::WizardNotStarted, L"M-402", L"wizard-not-started",
         L"The new wizard could not start."},
        {FailureCause::LocalWizardRefused, L"M-403", L"local-wizard-refused",
         L"The installed wizard does not carry the publisher's valid signature."},
        {FailureCause::NoWorker, L"M-501", L"no-worker", L"The update could not begin."},
        {FailureCause::OfferUnsigned, L"M-601", L"unsigned", L"The update offer is not signed."},
        {FailureCause::OfferBadSignature, L"M-602", L"bad-signature",
         L"The update offer's signature is not valid."},
        {FailureCause::OfferOtherSigner, L"M-603", L"other-signer",
         L"The update offer is signed by someone else."},
        {FailureCause::OfferRevoked, L"M-604", L"revoked",
         L"The update offer's signing certificate was revoked."},
        {FailureCause::OfferExpired, L"M-605", L"expired", L"The update offer has expired."},
    };
    EXPECT_EQ(sizeof kept / sizeof kept[0], rules::kFailureCauseCount);
    for (const auto& k : kept) {
        EXPECT_EQ(rules::FailureCode(k.cause), std::wstring(k.code));
        EXPECT_EQ(rules::CauseName(k.cause), std::wstring(k.name));
        EXPECT_EQ(rules::BuiltInReason(k.cause, L"English"), std::wstring(k.english));
        EXPECT_EQ(rules::ReasonKey(k.cause), L"Reason" + std::wstring(k.code).erase(1, 1));
    }
}

// The stall the texts speak of is the download's own limit, in every language.
TEST(Failure, TheStallTextsSayTheStallLimit)
{
    const std::wstring seconds = std::to_wstring(sys::DownloadLimits().stallMs / 1000);
    for (const wchar_t* language : {L"English", L"Spanish", L"French", L"Portuguese"})
        EXPECT_NE(std::wstring(rules::BuiltInReason(FailureCause::Stalled, language)).find(seconds),
                  std::wstring::npos)
            << testing::PrintToString(std::wstring(language));
}

// The translations are reviewed as a whole: a changed letter in any of them changes this
// digest (FNV-1a over every text of every language, in order), which is updated in the same
// commit as the reviewed text.
TEST(Failure, TheTranslationsChangeOnlyOnPurpose)
{
    unsigned long long digest = 14695981039346656037ull;
    for (size_t i = 0; i < rules::kFailureCauseCount; ++i) {
        for (const wchar_t* language : {L"English", L"Spanish", L"French", L"Portuguese"}) {
            for (const wchar_t* c = rules::BuiltInReason(static_cast<FailureCause>(i), language);
                 *c; ++c) {
                digest ^= static_cast<unsigned long long>(*c);
                digest *= 1099511628211ull;
            }
        }
    }
    EXPECT_EQ(digest, 0x41338ada7b03e2dcull) << std::hex << digest;
}

TEST(Failure, TheTrailAndTheLineNameStepCauseAndCode)
{
    EXPECT_EQ(rules::FailureName({rules::FailureStep::Download, FailureCause::Stalled}),
              L"download/stalled");
    EXPECT_EQ(rules::FailureName({rules::FailureStep::Check, FailureCause::OtherSigner}),
              L"check/other-signer");
    EXPECT_EQ(rules::FailureName({rules::FailureStep::HandOver, FailureCause::WizardNotStarted}),
              L"hand-over/wizard-not-started");
    EXPECT_EQ(rules::FailureName({rules::FailureStep::Offer, FailureCause::OfferBadSignature}),
              L"offer/bad-signature");
    EXPECT_EQ(rules::ReasonLine(L"Why.", FailureCause::NotTheOffer), L"Why. (M-203)");
}

}  // namespace

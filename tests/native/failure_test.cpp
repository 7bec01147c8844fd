#include "rules/failure.h"

#include <gtest/gtest.h>

#include <set>
#include <string>

namespace {

using rules::FailureCause;

// Support desks look codes up: each cause has its own code, name, key and text in every
// language, and the codes are kept for good.
TEST(Failure, EveryCauseHasItsOwnCodeNameKeyAndTexts)
{
    std::set<std::wstring> codes, names, keys;
    for (size_t i = 0; i < rules::kFailureCauseCount; ++i) {
        const auto cause = static_cast<FailureCause>(i);
        codes.insert(rules::FailureCode(cause));
        names.insert(rules::CauseName(cause));
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
    EXPECT_EQ(names.size(), rules::kFailureCauseCount);
    EXPECT_EQ(keys.size(), rules::kFailureCauseCount);

    const struct {
        FailureCause cause;
        const wchar_t* code;
        const wchar_t* key;
    } kept[] = {
        {FailureCause::NoConnection, L"M-101", L"ReasonM101"},
        {FailureCause::ProxyAuth, L"M-103", L"ReasonM103"},
        {FailureCause::CertWrongName, L"M-112", L"ReasonM112"},
        {FailureCause::Stalled, L"M-122", L"ReasonM122"},
        {FailureCause::DiskFull, L"M-131", L"ReasonM131"},
        {FailureCause::BadSignature, L"M-201", L"ReasonM201"},
        {FailureCause::OtherSigner, L"M-202", L"ReasonM202"},
        {FailureCause::NotTheOffer, L"M-203", L"ReasonM203"},
        {FailureCause::UnpackFailed, L"M-301", L"ReasonM301"},
        {FailureCause::WizardRefused, L"M-401", L"ReasonM401"},
        {FailureCause::NoWorker, L"M-501", L"ReasonM501"},
    };
    for (const auto& k : kept) {
        EXPECT_EQ(rules::FailureCode(k.cause), std::wstring(k.code));
        EXPECT_EQ(rules::ReasonKey(k.cause), k.key);
    }
}

TEST(Failure, TheTrailAndTheLineNameStepCauseAndCode)
{
    EXPECT_EQ(rules::FailureName({rules::FailureStep::Download, FailureCause::Stalled}),
              L"download/stalled");
    EXPECT_EQ(rules::FailureName({rules::FailureStep::Check, FailureCause::OtherSigner}),
              L"check/other-signer");
    EXPECT_EQ(rules::FailureName({rules::FailureStep::HandOver, FailureCause::WizardNotStarted}),
              L"hand-over/wizard-not-started");
    EXPECT_EQ(rules::ReasonLine(L"Why.", FailureCause::NotTheOffer), L"Why. (M-203)");
}

}  // namespace

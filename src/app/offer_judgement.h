// The control file's offer judged for one installation: its section's values, the staged
// rollout, the offer's signature and its age. Morvane.exe's update check and the publisher's
// check before publishing (morvane-pack check) both ask this one function, so what the
// publisher is told is what every machine decides.
#pragma once
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "rules/failure.h"
#include "settings/values.h"
#include "win/thread.h"

namespace app {

// Whatever the servers do, the support probe and the control-file fetch together end this long
// after start-up begins, which leaves the wizard well within 15 s of launch.
constexpr unsigned long kNetworkBudgetMs = 10000;

enum class OfferOutcome {
    Offered,     // newer, reaches this machine, signed by the maker and current: the user is asked
    NotOffered,  // the section offers nothing to this machine (why says what)
    Refused,     // an offer that would ask, refused for its signature or its age (cause)
};

struct OfferJudgement {
    OfferOutcome outcome = OfferOutcome::NotOffered;
    std::wstring why;  // what decided, as the trail says it
    rules::FailureCause cause = rules::FailureCause::OfferUnsigned;  // when Refused
    // The section's values once they passed the rules (whether or not they are offered);
    // empty when Refused, and when the section gave none that pass.
    settings::Offer offer;
    unsigned rolloutPercent = 100;
    unsigned bucket = 0;  // this machine's rollout bucket, once the revision was newer
};

// Judges the fetched control file `body` for the section `drvName` against the installed
// revision. The rollout bucket is the one of this machine's MachineGuid, unless `bucket` gives
// one (0 to 99). Expires= is judged against the clock now; the revocation check takes what is
// left of `deadline`, at most sys::kRevocationBudgetMs. Every decision goes to the trail too.
OfferJudgement JudgeOffer(const std::vector<char>& body, const std::wstring& drvName,
                          std::int32_t installedRevision, const win::Deadline& deadline,
                          std::optional<unsigned> bucket = std::nullopt);

}  // namespace app

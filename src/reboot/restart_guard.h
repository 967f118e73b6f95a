// The restart-loop guard: restarts asked for while the Windows Update flag is set are counted in
// the reboot state file's "RestartGuard" section, with how many of them the flag survived. After
// three survived restarts within seven days of the first request no further restart is asked
// for, until the flag clears or the seven days have passed. The section is the program's own:
// the clearing procedures leave it alone and the copy of a result file over the reboot state
// file keeps it (the prompt's files never bring one in).
#pragma once

#include <string>

#include "run/run_context.h"

namespace reboot {

inline constexpr const char* kRestartGuardSection = "RestartGuard";
inline constexpr int kRestartGuardSurvivedLimit = 3;
inline constexpr long long kRestartGuardWindowSeconds = 7LL * 24 * 60 * 60;

// The section's four texts as the reboot state file holds them, to carry over a copy.
struct RestartGuardTexts {
    std::string requests, survived, firstRequest, lastRequest;
    bool empty() const {
        return requests.empty() && survived.empty() && firstRequest.empty() && lastRequest.empty();
    }
};
RestartGuardTexts ReadRestartGuardTexts(run::RunContext& ctx);
// Makes the reboot state file's section exactly `texts` (removed when they are all empty),
// whatever a copy brought into it.
void PutBackRestartGuardTexts(run::RunContext& ctx, const RestartGuardTexts& texts);

// The prompt flow's first step, after the flag was read: with the flag clear the section goes;
// with it set, a section older than seven days (or dated after now: the clock was set back) goes
// and counting starts anew, and a restart since the last request counts as survived. Fills
// ctx.restartGuard.
void UpdateRestartGuard(run::RunContext& ctx, bool rebootFlagSet);

// A restart is being asked for: counted when the flag was set in this run.
void RecordRestartRequest(run::RunContext& ctx);

// On an answer of "restart now" while the guard holds: the ERROR line, a warning event record,
// and the end of the run with its own exit code. Does nothing when the guard does not hold.
void RefuseRestartWhileGuarded(run::RunContext& ctx);

}  // namespace reboot

// The reboot suppression policy: the Windows Update policy value, the audit record of a change,
// the task folder and the reboot task, in that order.
#pragma once

#include "run/run_context.h"

namespace win10 {

inline constexpr const char* kPolicyKey =
    "SOFTWARE\\Policies\\Microsoft\\Windows\\WindowsUpdate\\AU";
inline constexpr const char* kPolicyValue = "NoAutoRebootWithLoggedOnUsers";

// True suppresses automatic reboots with logged-on users, false gives that control back.
void subSuppressRebootNotification(run::RunContext& ctx, bool suppress);

// The Windows 10 step of an RBT run: on Windows 10 with an opt-in value other than "-1", the
// suppression with the value read as a Boolean, then the audit and error posts. A value that is
// neither a number nor True or False skips the step with one INFO line: the policy is never
// changed on a value that cannot be read.
void Windows10Step(run::RunContext& ctx);

}  // namespace win10

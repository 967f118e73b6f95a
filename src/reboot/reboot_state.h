// The INI operations and the reboot state file shared with the prompt program.
#pragma once

#include <string>

#include "run/run_context.h"

namespace reboot {

// The key's value, trimmed; empty when the key, section or file is missing. Never fails.
std::string IniGetValue(run::RunContext& ctx, const std::string& section, const std::string& key,
                        const std::string& file);
std::string IniGetValueEx(run::RunContext& ctx, const std::string& section, const std::string& key,
                          const std::string& file);
// Whether a write to `file` must not be made because it would go through a reparse point
// (junction or symbolic link) that no administrator made: the data folder, or the file itself
// when it lies in the data folder, owned by neither LocalSystem nor the Administrators. The
// first refusal of a path writes one ERROR line for `procedure`. Files elsewhere are never
// refused.
bool WriteRefusedAtReparsePoint(run::RunContext& ctx, const std::string& file,
                                const char* procedure);
// Writes the key; an empty value clears it without deleting it. Reports nothing. Nothing is
// written through a reparse point that WriteRefusedAtReparsePoint refuses.
void IniSetValue(run::RunContext& ctx, const std::string& section, const std::string& key,
                 const std::string& value, const std::string& file);

void FlushRBTINI(run::RunContext& ctx);
void FlushWRBTINI(run::RunContext& ctx);
void FlushWTPMRBTINI(run::RunContext& ctx);
void ReadRbtINI(run::RunContext& ctx);

}  // namespace reboot

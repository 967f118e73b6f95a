// The INI operations and the reboot state file shared with the prompt program.
#pragma once

#include <string>

#include "platform/types.h"
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
// Removes the section with all its keys, under the same reparse-point rule.
void IniRemoveSection(run::RunContext& ctx, const std::string& section, const std::string& file);

// The reboot state file's bytes as they stand, to put back when a restart does not happen.
struct SavedRebootState {
    platform::DWORD readError = 0;  // the read failed: there is nothing to put back
    bool existed = false;
    std::string bytes;
};
SavedRebootState SaveRebootState(run::RunContext& ctx);
// Puts the saved bytes back in one step (a new file beside it renamed over it), or removes the
// file that did not exist; nothing when the file is unchanged. A failure, or a state file that is
// a link (replacing it would not put its target back), is logged for `procedure` and leaves the
// file as it is.
void RestoreRebootState(run::RunContext& ctx, const SavedRebootState& saved, const char* procedure);

// The reboot state file is the program's own. One that another account owns, or that others may
// change (its own rights; the data folder's are the prompt program's), is replaced by a new file
// of the program's with the bytes it had (one ERROR line for `procedure`): its owner could
// otherwise make it read-only or refuse the program's writes. A missing file, or one refused as
// a link, is left alone.
void ReplaceForeignRebootState(run::RunContext& ctx, const char* procedure);
// A result file copied over the reboot state file: the state file keeps its own attributes
// (normal), not the copy's. A read-only, hidden or system answer file would otherwise make every
// later write to the state file fail.
void CopyOverRebootState(run::RunContext& ctx, const std::string& resultFile);

void FlushRBTINI(run::RunContext& ctx);
void FlushWRBTINI(run::RunContext& ctx);
void FlushWTPMRBTINI(run::RunContext& ctx);
void ReadRbtINI(run::RunContext& ctx);

}  // namespace reboot

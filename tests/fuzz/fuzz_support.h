// What the fuzz targets share: an emulated machine in a temporary folder, made once per process,
// and a run context on it for the procedures that log.
#pragma once
#include <filesystem>
#include <string>

#include "platform/platform.h"
#include "run/run_context.h"

namespace fuzzing {

// The machine folder (registry/ and drives/c/ inside), removed when the process ends.
const std::filesystem::path& MachineFolder();
// The emulated host over that folder, and a run context on it that logs to C:\Agent\fuzz.log
// (emptied now and then so that long runs do not fill the disk).
platform::Platform& Host();
run::RunContext& Context();
void KeepLogSmall();

// Stops the process with a message naming the broken property, so that libFuzzer keeps the input.
[[noreturn]] void Fail(const std::string& what, const std::string& detail = {});

}  // namespace fuzzing

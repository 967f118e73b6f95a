// The run as metrics for a fleet's monitoring: rebootscheduler.prom in the exporter's text-file
// folder, in the Prometheus text format.
#pragma once

#include <string>

#include "run/end_of_run.h"
#include "run/run_context.h"

namespace run {

inline constexpr const char* kMetricsFolder =
    "C:\\Program Files\\windows_exporter\\textfile_inputs";
inline constexpr const char* kMetricsFile = "rebootscheduler.prom";

// The file's text for this run: the samples this run knows, and those of the previous file
// (`previous`) that it does not (the other mode's last run, the last assessment start).
std::string MetricsText(RunContext& ctx, RunEnd end, const std::string& previous);

// At the end of a run of either mode that reached its end line: writes the file when the folder
// exists and passes the rights test of what SYSTEM runs (no other account may change it),
// through a new file beside it moved over the old one in one step. Never fails.
void WriteRunMetrics(RunContext& ctx, RunEnd end);

}  // namespace run

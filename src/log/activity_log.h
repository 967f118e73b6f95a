// The activity log: one tab-separated line per event, appended to the agent's log file.
#pragma once

#include <string>
#include <string_view>

#include "run/run_context.h"

namespace activity_log {

inline constexpr const char* kAgentKey = "SOFTWARE\\VERUZE";
// The program's event source in the Windows event log.
inline constexpr const char* kEventSource = "MSP@VORN";

// Places the log file from the agent's registry key, starts it afresh when it has grown past its
// limit, writes the header into a new file and sets logFilePath. Ends the process when the agent
// is not registered. The log's folders that are missing are made with a protected DACL; when one
// of them, or the installation folder, is a link not made by an administrator or may be changed
// by other accounts, nothing is written there: logFilePath stays empty, the run's lines are lost
// and one warning in the event log says why.
void InitLogFile(run::RunContext& ctx);

// Appends one line; never reports a failure (the line is then lost).
void WriteLogLine(run::RunContext& ctx, std::string_view form, std::string_view module,
                  std::string_view type, std::string_view val1 = {}, std::string_view val2 = {},
                  std::string_view val3 = {}, std::string_view val4 = {});

// The program's version as major.minor.revision, decimal, without leading zeros.
std::string VersionText(platform::Platform& platform);

// The line as written, without its line end: date-time text and the seven values joined by
// tabs. A tab, carriage return or line feed inside a value becomes a space, so that every record
// stays one line of eight fields.
std::string FormatLogLine(std::string_view dtime, std::string_view form, std::string_view module,
                          std::string_view type, std::string_view val1, std::string_view val2,
                          std::string_view val3, std::string_view val4);

}  // namespace activity_log

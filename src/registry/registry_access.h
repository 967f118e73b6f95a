// Registry reads as text and the one DWORD write of the program.
#pragma once

#include <cstdint>
#include <string>

#include "platform/types.h"
#include "run/run_context.h"

namespace registry {

// Opens the key with the plain legacy open (the program's own view), reads one value as text,
// closes the key. A missing key or value gives the empty text.
std::string GetString(run::RunContext& ctx, platform::HKEY hive, const std::string& keyPath,
                      const std::string& valueName);

// One value of an open key as text: REG_SZ up to its first NUL, REG_DWORD and REG_BINARY as
// signed decimal; any other type gives the empty text.
std::string RegQueryStringValue(run::RunContext& ctx, platform::HKEY key,
                                const std::string& valueName);

// Writes a DWORD under HKEY_LOCAL_MACHINE in the 64-bit view when it differs; regValueChanged
// tells whether it was written.
void SetRegDwordValue64(run::RunContext& ctx, const std::string& valueName, std::int32_t value,
                        const std::string& keyPath);

}  // namespace registry

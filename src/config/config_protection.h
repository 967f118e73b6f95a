// The agent's enciphered configuration file, read in clear through the agent's cipher library.
#pragma once

#include <string>

#include "run/run_context.h"

namespace config {

// The cipher library, bound from the agent's installation folder.
inline constexpr const char* kCipherLibrary = "Cryptel.dll";

// The whole file transformed by the library: enciphered when encipher is true, deciphered
// otherwise. The file itself is never rewritten. Any failure ends the run (CloseAll).
std::string EncDecXML(run::RunContext& ctx, bool encipher, const std::string& path);

}  // namespace config

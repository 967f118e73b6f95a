// A SID's text form (S-1-5-21-...), as ConvertSidToStringSidA writes it and
// ConvertStringSidToSidA reads it: how the machine folder and the log name an account without
// its name, which may be redacted, deleted, or only known to a domain controller.
#pragma once

#include <string>

#include "platform/files.h"

namespace platform {

// "S-<revision>-<authority>-<sub-authority>..."; empty for a SID that is not well formed.
std::string SidText(const Sid& sid);
// The SID of such a text (the authority in decimal or, above 32 bits, as 0x and twelve hex
// digits); empty when the text is not one.
Sid SidFromText(const std::string& text);

}  // namespace platform

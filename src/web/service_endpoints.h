// The agent's service endpoint table, "Configuration\Hostbook.ini" in its installation folder:
// one section per service, key "URL" the service's base address.
#pragma once

#include <string>

#include "platform/types.h"
#include "run/run_context.h"

namespace web {

// The base URL of the service, ending with "/", or empty when it has none. A missing entry is
// seeded with a non-empty default, which is then returned. Finds the installation folder in the
// registry itself; never fails.
std::string fncGetServiceURL(run::RunContext& ctx, const std::string& serviceName,
                             const std::string& defaultUrl);

// The key's value, trimmed; empty when the file, section or key is missing.
std::string HostbookGetValue(run::RunContext& ctx, const std::string& section,
                             const std::string& key, const std::string& file);
// The write call's result: non-zero on success, 0 on failure.
long HostbookSetValue(run::RunContext& ctx, const std::string& file, const std::string& section,
                      const std::string& key, const std::string& value);
// A registry value as text, its key opened in the 64-bit view, else the 32-bit view, else the
// program's own. type: 1 text, 4 32-bit number; any other gives the empty text.
std::string HostbookRegValue(run::RunContext& ctx, platform::HKEY root, const std::string& subKey,
                             const std::string& valueName, int type);

}  // namespace web

// The alert-suspension web post made before the program restarts a machine itself.
#pragma once

#include <string>
#include <string_view>

#include "run/run_context.h"

namespace web {

// Asks the agent's web service "wpacpmsusddappextended" to suspend device and service alerts;
// true when an attempt was answered with "1" or "0".
bool fncRebootSupressionWebPost(run::RunContext& ctx, const std::string& option);

// The post body: one line, no declaration, the values escaped as element text.
std::string SuppressionBody(std::string_view tagName, std::string_view regId,
                            std::string_view option, std::string_view now);

// A value as the text of an element: "&", "<" and ">" as entity references.
std::string XmlEscaped(std::string_view text);
// A value of the query: every byte but letters, digits and "-._~" as %XX.
std::string PercentEncoded(std::string_view text);

}  // namespace web

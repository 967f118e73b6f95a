// The agent's web configuration: the post addresses of one web service, read from the agent's
// XML configuration, and the encrypted form of a post body.
#pragma once

#include <string>

#include "platform/components.h"
#include "run/run_context.h"

namespace web {

// Sets webPostPrimaryURL, webPostSecondaryURL, webPostEncryptFlag, webPostPage and
// webPostTagName from the service's entry in wpConfigXml; all five stay empty when the entry is
// not found. A failure is logged and leaves the values set so far.
void subReadXMLWebpost(run::RunContext& ctx, const std::string& serviceName);

// The XML text encrypted by the agent's text encryptor, inside a CDATA section of an element
// named webPostTagName; the empty text when the encryption fails (logged). The encryptor's
// creation and its call share boundMs (a post passes what is left of its own deadline).
std::string fncXMLEncrypt(run::RunContext& ctx, const std::string& xml,
                          platform::DWORD boundMs = platform::kComponentCallMs);

}  // namespace web

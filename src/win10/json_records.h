// The JSON records of the Windows 10 work: error records of the reboot task handling and the
// audit record of a changed reboot policy, posted to the agent's REST service.
#pragma once

#include <string>
#include <string_view>

namespace win10 {

// The text as a JSON string, quotes included: quote, backslash and control characters escaped.
std::string JsonString(std::string_view text);
// The registration id as the service reads it: a plain number (digits, no leading zero) stays a
// bare number; anything else becomes a JSON string.
std::string JsonRegId(std::string_view regId);

// One error record, with the comma that begins every record:
// ,{"RegID" : 12345,"FunctionName" : "RebootGetTask","Errorlog" : "Err - 5 - D","ScanDatetime" :
// "3/4/2021 17:6:7"}
std::string ErrorRecord(std::string_view regId, std::string_view functionWord,
                        std::string_view errorText, std::string_view runStartTime);
// The audit record, without a leading comma:
// {"WA_RegId" : 12345,"WA_AUEnabled" : false,"WA_ScanDtime" : "3/4/2021 17:6:7","WA_Function" :
// "Reboot"}
std::string AuditRecord(std::string_view regId, bool suppress, std::string_view runStartTime);

}  // namespace win10

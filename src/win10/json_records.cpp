#include "win10/json_records.h"

#include <algorithm>

namespace win10 {

std::string JsonString(std::string_view text) {
    static constexpr char kHex[] = "0123456789abcdef";
    std::string result = "\"";
    for (const char c : text) {
        switch (c) {
            case '"':
                result += "\\\"";
                break;
            case '\\':
                result += "\\\\";
                break;
            case '\b':
                result += "\\b";
                break;
            case '\f':
                result += "\\f";
                break;
            case '\n':
                result += "\\n";
                break;
            case '\r':
                result += "\\r";
                break;
            case '\t':
                result += "\\t";
                break;
            default:
                if (static_cast<unsigned char>(c) < 0x20) {
                    result += "\\u00";
                    result += kHex[(c >> 4) & 0xF];
                    result += kHex[c & 0xF];
                } else {
                    result += c;
                }
        }
    }
    return result + "\"";
}

std::string JsonRegId(std::string_view regId) {
    const bool digits = !regId.empty() && std::all_of(regId.begin(), regId.end(),
                                                      [](char c) { return c >= '0' && c <= '9'; });
    // A leading zero would not be a JSON number ("0123"): such an id keeps its digits as a string.
    if (digits && (regId.size() == 1 || regId[0] != '0')) return std::string(regId);
    return JsonString(regId);
}

std::string ErrorRecord(std::string_view regId, std::string_view functionWord,
                        std::string_view errorText, std::string_view runStartTime) {
    return ",{\"RegID\" : " + JsonRegId(regId) + ",\"FunctionName\" : " + JsonString(functionWord) +
           ",\"Errorlog\" : " + JsonString(errorText) +
           ",\"ScanDatetime\" : " + JsonString(runStartTime) + "}";
}

std::string AuditRecord(std::string_view regId, bool suppress, std::string_view runStartTime) {
    return "{\"WA_RegId\" : " + JsonRegId(regId) +
           ",\"WA_AUEnabled\" : " + (suppress ? "false" : "true") +
           ",\"WA_ScanDtime\" : " + JsonString(runStartTime) + ",\"WA_Function\" : \"Reboot\"}";
}

}  // namespace win10

// The record builders over any values: every JSON record parses with the values it was given,
// and the alert-suspension body parses as XML with its values as element text.
#include <fuzzer/FuzzedDataProvider.h>

#include <pugixml.hpp>
#include <string>

#include "fuzz_support.h"
#include "json_check_support.h"
#include "web/alert_suspension.h"
#include "win10/json_records.h"

using testing_support::JsonError;
using testing_support::ParseJson;

namespace {

// The JSON checker decodes strings to UTF-8; values of valid UTF-8 must come back as given.
bool IsUtf8(const std::string& text) {
    for (std::size_t i = 0; i < text.size();) {
        const auto c = static_cast<unsigned char>(text[i]);
        std::size_t more = c < 0x80         ? 0
                           : (c >> 5) == 6  ? 1
                           : (c >> 4) == 14 ? 2
                           : (c >> 3) == 30 ? 3
                                            : 9;
        if (more == 9 || i + more >= text.size() + (more ? 0 : 1)) return false;
        for (std::size_t k = 1; k <= more; ++k) {
            if ((static_cast<unsigned char>(text[i + k]) >> 6) != 2) return false;
        }
        i += more + 1;
    }
    return true;
}

testing_support::JsonValue Parsed(const std::string& text) {
    try {
        return ParseJson(text);
    } catch (const JsonError& e) {
        fuzzing::Fail("record does not parse", std::string(e.what()) + "\n" + text);
    }
}

// The tag as the reader hands it out: the service's name in any case, blanks around it.
std::string Tag(FuzzedDataProvider& input) {
    std::string tag = "wpacpmsusddappextended";
    for (char& c : tag) {
        if (input.ConsumeBool()) c = static_cast<char>(c - 'a' + 'A');
    }
    return std::string(input.ConsumeIntegralInRange(0, 2), ' ') + tag +
           std::string(input.ConsumeIntegralInRange(0, 2), ' ');
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    FuzzedDataProvider input(data, size);
    // The values come from C strings (registry, profile files, system messages): no NUL.
    auto text = [&input](std::size_t most) {
        std::string value = input.ConsumeRandomLengthString(most);
        for (char& c : value) {
            if (c == '\0') c = ' ';
        }
        return value;
    };
    const std::string regId = text(40);
    const std::string word = text(40);
    const std::string error = text(200);
    const std::string when = text(40);
    const bool suppress = input.ConsumeBool();
    const std::string tag = Tag(input);

    const auto string = Parsed(win10::JsonString(error));
    if (!string.IsString() || (IsUtf8(error) && string.String() != error)) {
        fuzzing::Fail("string value changed", error);
    }
    const auto id = Parsed(win10::JsonRegId(regId));
    if (id.IsNumber() &&
        (regId.empty() || regId.find_first_not_of("0123456789") != std::string::npos)) {
        fuzzing::Fail("id that is no number written bare", regId);
    }
    const auto records = Parsed("[" + win10::ErrorRecord(regId, word, error, when).substr(1) + "," +
                                win10::AuditRecord(regId, suppress, when) + "]");
    const auto& errorRecord = records.Array().at(0);
    if (IsUtf8(word) && errorRecord["FunctionName"].String() != word) fuzzing::Fail("word changed");
    if (IsUtf8(when) && errorRecord["ScanDatetime"].String() != when) fuzzing::Fail("time changed");
    if (records.Array().at(1)["WA_AUEnabled"].Bool() == suppress) fuzzing::Fail("AUEnabled wrong");

    const std::string body = web::SuppressionBody(tag, regId, word, when);
    pugi::xml_document document;
    const auto result =
        document.load_string(body.c_str(), pugi::parse_default | pugi::parse_ws_pcdata);
    if (!result) fuzzing::Fail("alert-suspension body does not parse", body);
    if (body.find('\0') == std::string::npos && regId.find('\r') == std::string::npos &&
        document.first_child().child("regid").text().as_string() != regId) {
        fuzzing::Fail("regid changed in the body", body);
    }
    return 0;
}

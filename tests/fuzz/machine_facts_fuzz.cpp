// The machine-folder reader of the emulated host (machine.ini's facts, capture.ini's notes) and
// the capture's writer of those files. Any bytes: either refused with MachineError naming the
// line, or read into facts that, written back as the capture writes them, read again to the same
// facts (the first value of each section and name, as the host takes it). Every fact of the
// host's list is checked against its kind without failing on any value.
#include <map>
#include <string>
#include <utility>
#include <vector>

#include "capture/capture_folder.h"
#include "fuzz_support.h"
#include "platform/emulated/fact_list.h"
#include "platform/emulated/machine.h"

using platform::emulated::MachineError;
using platform::emulated::MachineFacts;

namespace {

std::string Upper(std::string text) {
    for (char& c : text) {
        if (c >= 'a' && c <= 'z') c = static_cast<char>(c - 'a' + 'A');
    }
    return text;
}

// The value the host reads for each section and name: the first one listed.
std::map<std::pair<std::string, std::string>, std::string> AsRead(const MachineFacts& facts) {
    std::map<std::pair<std::string, std::string>, std::string> read;
    for (const auto& entry : facts.Entries()) {
        read.emplace(std::make_pair(Upper(entry.section), Upper(entry.name)), entry.value);
    }
    return read;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const std::string text(reinterpret_cast<const char*>(data), size);
    MachineFacts facts;
    try {
        facts = MachineFacts::Parse(text);
    } catch (const MachineError& e) {
        if (std::string(e.what()).rfind("machine.ini line ", 0) != 0) {
            fuzzing::Fail("a refusal names no line", e.what());
        }
        return 0;
    }
    std::vector<capture::Fact> written;
    for (const auto& entry : facts.Entries()) {
        written.push_back({entry.section, entry.name, entry.value});
        if (const auto* known = platform::emulated::FindKnownFact(entry.section, entry.name)) {
            (void)platform::emulated::FactValueProblem(*known, entry.value);
        }
    }
    const std::string again = capture::IniText(written, "Facts of the captured machine.");
    MachineFacts reread;
    try {
        reread = MachineFacts::Parse(again);
    } catch (const MachineError& e) {
        fuzzing::Fail("the written facts do not read", e.what());
    }
    const auto before = AsRead(facts);
    const auto after = AsRead(reread);
    if (before.size() != after.size()) {
        fuzzing::Fail("facts lost or added",
                      std::to_string(before.size()) + " -> " + std::to_string(after.size()));
    }
    for (const auto& [key, value] : before) {
        const auto found = after.find(key);
        if (found == after.end()) fuzzing::Fail("fact lost", key.first + "." + key.second);
        if (found->second != value) {
            fuzzing::Fail("fact changed", key.first + "." + key.second + ": '" + value + "' -> '" +
                                              found->second + "'");
        }
    }
    return 0;
}

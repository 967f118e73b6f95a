// The command-line acceptance test over any argument text: the word is accepted exactly when,
// quotes and spaces aside and in any case, it occurs in the accepted list "RBT,RBTASSESS" (the
// empty word, RBT and RBTASSESS among them); cleaning is idempotent.
#include <string>

#include "flow/main_flow.h"
#include "fuzz_support.h"

namespace {

std::string Reference(const std::string& text) {
    std::string word;
    for (const char c : text) {
        if (c == '"') continue;
        word += (c >= 'a' && c <= 'z') ? static_cast<char>(c - 'a' + 'A') : c;
    }
    const auto first = word.find_first_not_of(' ');
    if (first == std::string::npos) return "";
    return word.substr(first, word.find_last_not_of(' ') - first + 1);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string text(reinterpret_cast<const char*>(data), size);
    const std::string cleaned = run::CleanCommandArg(text);
    if (run::CleanCommandArg(cleaned) != cleaned) fuzzing::Fail("cleaning is not idempotent", text);
    if (cleaned.find('"') != std::string::npos) fuzzing::Fail("quote left in the word", text);
    const std::string word = Reference(text);
    const bool expected = std::string("RBT,RBTASSESS").find(word) != std::string::npos;
    if (run::IsAcceptedArgument(cleaned) != expected) {
        fuzzing::Fail(expected ? "accepted word refused" : "other word accepted", text);
    }
    return 0;
}

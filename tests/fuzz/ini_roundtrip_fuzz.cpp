// WritePrivateProfileStringA then GetPrivateProfileStringA on the emulated host, over any file
// bytes: the value written reads back (blanks around it dropped, one pair of quotes taken off)
// and every other key of the file reads as before; the file keeps its byte-order mark.
#include <fuzzer/FuzzedDataProvider.h>

#include <fstream>
#include <set>
#include <sstream>
#include <string>
#include <utility>

#include "fuzz_support.h"
#include "platform/emulated/ini_text.h"

namespace ini = platform::emulated::ini;

namespace {

constexpr const char* kFile = "C:\\fuzz.ini";

std::string Lower(std::string_view text) {
    std::string out(text);
    for (char& c : out) {
        if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
    }
    return out;
}

// A name as the program spells its sections and keys: letters, digits, " _.-", not blank at
// either end, not empty.
std::string Name(FuzzedDataProvider& input) {
    static constexpr char kAlphabet[] =
        "abcdefghijklmnopqrstuvwxyzABCDEFGHIJKLMNOPQRSTUVWXYZ0123456789 _.-";
    std::string name;
    const std::size_t length = input.ConsumeIntegralInRange<std::size_t>(1, 12);
    for (std::size_t i = 0; i < length; ++i) {
        name += kAlphabet[input.ConsumeIntegralInRange<std::size_t>(0, sizeof kAlphabet - 2)];
    }
    const std::string_view trimmed = ini::Trim(name);
    return trimmed.empty() ? std::string("k") : std::string(trimmed);
}

// Every (section, key) pair that a line of the body names, lower-cased.
std::set<std::pair<std::string, std::string>> NamedKeys(std::string_view body) {
    std::set<std::pair<std::string, std::string>> keys;
    std::string section;
    std::size_t pos = 0;
    while (pos <= body.size()) {
        std::size_t end = body.find_first_of("\r\n", pos);
        if (end == std::string_view::npos) end = body.size();
        const std::string_view line = ini::Trim(body.substr(pos, end - pos));
        if (!line.empty() && line[0] == '[') {
            const std::string_view inside = line.substr(1);
            section = Lower(ini::Trim(ini::UpToNul(inside.substr(0, inside.find(']')))));
        } else if (const std::size_t eq = line.find('='); eq != std::string_view::npos) {
            keys.emplace(section, Lower(ini::Trim(ini::UpToNul(line.substr(0, eq)))));
        }
        pos = end + 1;
    }
    return keys;
}

std::string FileBytes() {
    std::ifstream in(fuzzing::MachineFolder() / "drives" / "c" / "fuzz.ini", std::ios::binary);
    std::ostringstream content;
    content << in.rdbuf();
    return content.str();
}

std::string ReadBack(const std::string& section, const std::string& key) {
    static char buffer[1 << 16];
    const auto count = fuzzing::Host().profile().GetPrivateProfileStringA(
        section.c_str(), key.c_str(), "\x01missing", buffer, sizeof buffer, kFile);
    return std::string(buffer, count);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    FuzzedDataProvider input(data, size);
    const std::string section = Name(input);
    const std::string key = Name(input);
    std::string value = input.ConsumeRandomLengthString(200);
    // A value is one line of text.
    for (char& c : value) {
        if (c == '\0' || c == '\r' || c == '\n') c = ' ';
    }
    const std::string before = input.ConsumeRemainingBytesAsString();
    // A file with a byte-order mark holds Unicode text: the value must be text in the ANSI code
    // page, which is UTF-8 on the emulated host.
    if (ini::Decode(before).encoding != ini::Encoding::kAnsi) {
        for (char& c : value) {
            if (static_cast<unsigned char>(c) >= 0x80) c = '?';
        }
    }
    {
        std::ofstream out(fuzzing::MachineFolder() / "drives" / "c" / "fuzz.ini",
                          std::ios::binary | std::ios::trunc);
        out.write(before.data(), static_cast<std::streamsize>(before.size()));
    }
    const ini::Text oldText = ini::Decode(before);
    if (!fuzzing::Host().profile().WritePrivateProfileStringA(section.c_str(), key.c_str(),
                                                              value.c_str(), kFile)) {
        fuzzing::Fail("write refused");
    }
    const std::string after = FileBytes();
    const ini::Text newText = ini::Decode(after);
    if (newText.encoding != oldText.encoding) fuzzing::Fail("byte-order mark changed");

    const std::string expected(ini::Unquote(ini::Trim(value)));
    const std::string got = ReadBack(section, key);
    if (got != expected) {
        fuzzing::Fail("written value does not read back",
                      "wrote [" + value + "] read [" + got + "]");
    }
    const std::string ownSection = Lower(section);
    const std::string ownKey = Lower(key);
    for (const auto& [s, k] : NamedKeys(oldText.body)) {
        if (s == ownSection && k == ownKey) continue;
        const auto was = ini::Lookup(oldText.body, s, k);
        const auto is = ini::Lookup(newText.body, s, k);
        if (was != is) {
            fuzzing::Fail("another key changed", "[" + s + "] " + k + ": " +
                                                     was.value_or("<none>") + " -> " +
                                                     is.value_or("<none>"));
        }
    }
    return 0;
}

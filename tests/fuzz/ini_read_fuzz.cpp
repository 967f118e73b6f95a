// The emulated GetPrivateProfileStringA over any file bytes: no crash, the text handed out always
// fits the buffer with its NUL, the count is its length, and a smaller buffer gets a prefix of
// what a roomy one gets.
#include <fuzzer/FuzzedDataProvider.h>

#include <cstring>
#include <fstream>
#include <string>
#include <vector>

#include "fuzz_support.h"

namespace {

std::string Read(const std::string& section, const std::string& key, const char* fallback,
                 std::vector<char>& buffer, unsigned size, unsigned* count) {
    buffer.assign(size + 8, '\x55');
    *count = fuzzing::Host().profile().GetPrivateProfileStringA(
        section.c_str(), key.c_str(), fallback, buffer.data(), size, "C:\\fuzz.ini");
    if (*count >= size) fuzzing::Fail("count not below the buffer size");
    if (buffer[*count] != '\0') fuzzing::Fail("text not ended by NUL at the count");
    if (std::strlen(buffer.data()) != *count) fuzzing::Fail("NUL inside the text handed out");
    for (unsigned i = size; i < size + 8; ++i) {
        if (buffer[i] != '\x55') fuzzing::Fail("written past the buffer");
    }
    return std::string(buffer.data(), *count);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    FuzzedDataProvider input(data, size);
    const std::string section = input.ConsumeRandomLengthString(40);
    const std::string key = input.ConsumeRandomLengthString(40);
    const std::string fallback = input.ConsumeRandomLengthString(40);
    const unsigned small = input.ConsumeIntegralInRange<unsigned>(1, 64);
    const std::string bytes = input.ConsumeRemainingBytesAsString();
    {
        std::ofstream out(fuzzing::MachineFolder() / "drives" / "c" / "fuzz.ini",
                          std::ios::binary | std::ios::trunc);
        out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
    }
    std::vector<char> buffer;
    unsigned count = 0;
    const std::string sections[] = {section, "SchTime", "TimerPM", ""};
    const std::string keys[] = {key, "Win10Optin", "TimerPM", "PendingWPM"};
    for (const auto& s : sections) {
        for (const auto& k : keys) {
            const std::string whole = Read(s, k, fallback.c_str(), buffer, 1 << 16, &count);
            const std::string part = Read(s, k, fallback.c_str(), buffer, small, &count);
            if (whole.compare(0, part.size(), part) != 0 ||
                part.size() != std::min<std::size_t>(whole.size(), small - 1)) {
                fuzzing::Fail("a small buffer does not get the prefix", whole + "\n" + part);
            }
        }
    }
    return 0;
}

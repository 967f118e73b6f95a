// First cut: plain sections and keys. To be replaced by the faithful reader and writer.
#include "platform/emulated/emulated_profile.h"

#include <cstring>
#include <fstream>
#include <sstream>

#include "platform/emulated/text_codec.h"

namespace platform::emulated {

DWORD EmulatedProfile::GetPrivateProfileStringA(const char* section, const char* key,
                                                const char* defaultValue, char* buffer, DWORD size,
                                                const char* fileName) {
    std::string result = defaultValue ? defaultValue : "";
    std::ifstream in(machine_.HostPath(fileName), std::ios::binary);
    std::string line, current;
    while (in && std::getline(in, line)) {
        if (!line.empty() && line.back() == '\r') line.pop_back();
        if (!line.empty() && line[0] == '[') {
            current = line.substr(1, line.find(']') - 1);
            continue;
        }
        const auto eq = line.find('=');
        if (eq != std::string::npos && EqualsNoCase(current, section) &&
            EqualsNoCase(line.substr(0, eq), key)) {
            result = line.substr(eq + 1);
            break;
        }
    }
    if (size == 0) return 0;
    if (result.size() >= size) result.resize(size - 1);
    std::memcpy(buffer, result.c_str(), result.size() + 1);
    return static_cast<DWORD>(result.size());
}

bool EmulatedProfile::WritePrivateProfileStringA(const char*, const char*, const char*,
                                                 const char*) {
    machine_.lastError = kErrorCallNotImplemented;
    return false;
}

}  // namespace platform::emulated

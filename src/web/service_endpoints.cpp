#include "web/service_endpoints.h"

#include <algorithm>
#include <cstdint>
#include <vector>

#include "common/text.h"
#include "platform/handle_owner.h"
#include "reboot/reboot_state.h"

namespace web {

namespace {

constexpr platform::DWORD kReadAccessViews[] = {
    platform::kKeyRead | platform::kKeyWow64_64Key,  // 0x20119
    platform::kKeyRead | platform::kKeyWow64_32Key,  // 0x20219
    platform::kKeyRead,                              // 0x20019
};

}  // namespace

std::string HostbookRegValue(run::RunContext& ctx, platform::HKEY root, const std::string& subKey,
                             const std::string& valueName, int type) {
    auto& reg = ctx.platform.registry();
    platform::OwnedKey key(reg);
    std::string result;
    try {
        for (const platform::DWORD access : kReadAccessViews) {
            if (reg.RegOpenKeyExA(root, subKey.c_str(), 0, access, key.put()) ==
                platform::kErrorSuccess)
                break;
            key.release();  // what a failed open leaves is no key
        }
        if (key) {
            const char* name = valueName.c_str();
            if (type == 1) {
                // First into an empty buffer, to learn the size; then into one of that size.
                std::string buffer;
                platform::BYTE empty[1] = {0};
                platform::DWORD size = 0;
                platform::DWORD valueType = platform::kRegSz;
                platform::LONG answer =
                    reg.RegQueryValueExA(key.get(), name, &valueType, empty, &size);
                if (answer == platform::kErrorMoreData) {
                    buffer.assign(size, '\0');
                    valueType = platform::kRegSz;
                    answer = reg.RegQueryValueExA(key.get(), name, &valueType,
                                                  reinterpret_cast<platform::BYTE*>(buffer.data()),
                                                  &size);
                }
                if (answer == platform::kErrorSuccess) {
                    // Without its terminating NUL.
                    if (!buffer.empty()) result = buffer.substr(0, buffer.size() - 1);
                } else if (answer != platform::kErrorFileNotFound) {
                    result = buffer;
                }
            } else if (type == 4) {
                std::uint8_t bytes[4] = {};
                platform::DWORD size = 4;
                platform::DWORD valueType = platform::kRegDword;
                if (reg.RegQueryValueExA(key.get(), name, &valueType, bytes, &size) ==
                    platform::kErrorSuccess) {
                    const std::uint32_t raw = bytes[0] | (bytes[1] << 8) | (bytes[2] << 16) |
                                              (static_cast<std::uint32_t>(bytes[3]) << 24);
                    result = std::to_string(static_cast<std::int32_t>(raw));
                }
            }
        }
    } catch (const std::exception&) {
        result.clear();
    }
    return result;
}

// The endpoint table is read exactly as the reboot state file is.
std::string HostbookGetValue(run::RunContext& ctx, const std::string& section,
                             const std::string& key, const std::string& file) {
    return reboot::IniGetValue(ctx, section, key, file);
}

long HostbookSetValue(run::RunContext& ctx, const std::string& file, const std::string& section,
                      const std::string& key, const std::string& value) {
    try {
        return ctx.platform.profile().WritePrivateProfileStringA(section.c_str(), key.c_str(),
                                                                 value.c_str(), file.c_str())
                   ? 1
                   : 0;
    } catch (const std::exception&) {
        return 0;
    }
}

std::string fncGetServiceURL(run::RunContext& ctx, const std::string& serviceName,
                             const std::string& defaultUrl) {
    try {
        std::string folder = HostbookRegValue(ctx, platform::kHkeyLocalMachine, "SOFTWARE\\VERUZE",
                                              "InstallationPath", 1);
        if (!common::EndsWith(common::Trim(folder), "\\")) folder += "\\";
        const std::string table = folder + "Configuration\\Hostbook.ini";
        std::string url = common::Trim(HostbookGetValue(ctx, serviceName, "URL", table));
        if (url.empty() && !defaultUrl.empty()) {
            HostbookSetValue(ctx, table, serviceName, "URL", defaultUrl);
            url = defaultUrl;
        }
        const std::string trimmed = common::Trim(url);
        if (!trimmed.empty() && trimmed.back() != '/') url += "/";
        return url;
    } catch (const std::exception&) {
        return {};
    }
}

}  // namespace web

#include "registry/registry_access.h"

#include <algorithm>
#include <cstring>
#include <vector>

#include "common/failure.h"
#include "log/activity_log.h"
#include "platform/handle_owner.h"
#include "run/failures.h"

namespace registry {

using activity_log::WriteLogLine;
using common::Failure;
using platform::DWORD;

namespace {

constexpr long kOwnFailure = 13579;
constexpr DWORD kAllAccess64 = platform::kKeyAllAccess | platform::kKeyWow64_64Key;  // 0xF013F

std::string LastErrorText(run::RunContext& ctx) {
    return std::to_string(ctx.platform.system().GetLastError());
}

std::int32_t FirstFourBytes(const std::vector<platform::BYTE>& data) {
    std::uint32_t value = 0;
    for (std::size_t i = 0; i < 4 && i < data.size(); ++i) {
        value |= static_cast<std::uint32_t>(data[i]) << (8 * i);
    }
    return static_cast<std::int32_t>(value);
}

// A write the registry refuses is a failure of the procedure, not a value written: it is never
// reported as done, and the result flag stays false.
void WriteDword(platform::Registry& reg, platform::HKEY key, const std::string& valueName,
                const platform::BYTE (&bytes)[4], const std::string& keyPath) {
    const platform::LONG written =
        reg.RegSetValueExA(key, valueName.c_str(), platform::kRegDword, bytes, 4);
    if (written != platform::kErrorSuccess) {
        throw Failure(kOwnFailure,
                      "SetRegDwordValue64: Value Not Written, " + keyPath + " : " + valueName,
                      "lResult", static_cast<unsigned long>(written));
    }
}

}  // namespace

std::string GetString(run::RunContext& ctx, platform::HKEY hive, const std::string& keyPath,
                      const std::string& valueName) {
    auto& reg = ctx.platform.registry();
    platform::OwnedKey key(reg);
    std::string result;
    try {
        reg.RegOpenKeyA(hive, keyPath.c_str(), key.put());  // on failure key stays 0
        result = RegQueryStringValue(ctx, key.get(), valueName);
    } catch (const std::exception& e) {
        const run::Trapped failure = run::Trap(ctx, e);
        WriteLogLine(ctx, "ModRegistry", "GetString", "ERROR", keyPath + "-" + valueName,
                     failure.number, failure.description, failure.lastError);
        result.clear();
    }
    return result;
}

std::string RegQueryStringValue(run::RunContext& ctx, platform::HKEY key,
                                const std::string& valueName) {
    auto& reg = ctx.platform.registry();
    const char* name = valueName.c_str();
    try {
        DWORD type = 0;
        DWORD size = 0;
        if (reg.RegQueryValueExA(key, name, &type, nullptr, &size) != platform::kErrorSuccess) {
            return {};
        }
        switch (type) {
            case platform::kRegSz: {
                std::vector<platform::BYTE> buffer(size, 0);
                if (reg.RegQueryValueExA(key, name, &type, buffer.data(), &size) !=
                    platform::kErrorSuccess) {
                    return {};
                }
                const auto nul = std::find(buffer.begin(), buffer.end(), 0);
                if (nul == buffer.end()) common::Raise(common::kInvalidCall);
                return std::string(buffer.begin(), nul);
            }
            case platform::kRegDword: {
                if (reg.RegQueryValueExA(key, name, &type, nullptr, &size) !=
                    platform::kErrorSuccess) {
                    throw Failure(kOwnFailure,
                                  "lResult : Last Dll Error : " + LastErrorText(ctx) + ": ",
                                  " RegQueryKeyValue ");
                }
                std::vector<platform::BYTE> buffer(4, 0);
                DWORD bufferSize = 4;
                if (reg.RegQueryValueExA(key, name, &type, buffer.data(), &bufferSize) !=
                    platform::kErrorSuccess) {
                    throw Failure(kOwnFailure,
                                  "lResult : Last Dll Error : " + LastErrorText(ctx) + ": ",
                                  "RegQueryKeyValue");
                }
                return std::to_string(FirstFourBytes(buffer));
            }
            case platform::kRegBinary: {
                // Read into a buffer of the data's own size; the first four bytes give the number.
                std::vector<platform::BYTE> buffer(size, 0);
                if (reg.RegQueryValueExA(key, name, &type, buffer.data(), &size) !=
                    platform::kErrorSuccess) {
                    return {};
                }
                return std::to_string(FirstFourBytes(buffer));
            }
            default:
                return {};
        }
    } catch (const std::exception& e) {
        const run::Trapped failure = run::Trap(ctx, e);
        WriteLogLine(ctx, "ModRegistry", "RegQueryStringValue", "ERROR", valueName, failure.number,
                     failure.description, failure.lastError);
        return {};
    }
}

void SetRegDwordValue64(run::RunContext& ctx, const std::string& valueName, std::int32_t value,
                        const std::string& keyPath) {
    auto& reg = ctx.platform.registry();
    const std::string valueText = std::to_string(value);
    platform::OwnedKey key(reg);
    try {
        WriteLogLine(ctx, "ModRegistry", "SetRegDwordValue64", "INFO", "Modifying Registry Values",
                     valueName, keyPath, valueText);
        ctx.regValueChanged = false;
        if (reg.RegOpenKeyExA(platform::kHkeyLocalMachine, keyPath.c_str(), 0, kAllAccess64,
                              key.put()) != platform::kErrorSuccess) {
            throw Failure(kOwnFailure,
                          "SetRegDwordValue64: Key Not Found, " + keyPath + " : " + valueName,
                          "lResult");
        }
        DWORD type = 0;
        DWORD size = 0;
        reg.RegQueryValueExA(key.get(), valueName.c_str(), &type, nullptr, &size);
        platform::BYTE bytes[4];
        const auto raw = static_cast<std::uint32_t>(value);
        for (int i = 0; i < 4; ++i) bytes[i] = static_cast<platform::BYTE>((raw >> (8 * i)) & 0xFF);
        if (type == platform::kRegDword) {
            std::vector<platform::BYTE> current(4, 0);
            DWORD currentSize = 4;
            reg.RegQueryValueExA(key.get(), valueName.c_str(), &type, current.data(), &currentSize);
            if (FirstFourBytes(current) == value) {
                WriteLogLine(ctx, "ModRegistry", "SetRegDwordValue64", "INFO",
                             "REGISTRY VALUE ALREADY UPDATED ", valueName, keyPath);
            } else {
                WriteDword(reg, key.get(), valueName, bytes, keyPath);
                key.reset();
                WriteLogLine(ctx, "ModRegistry", "SetRegDwordValue64", "INFO",
                             "UPDATED REGISTRY VALUE", valueName, keyPath);
                ctx.regValueChanged = true;
            }
        } else {
            WriteLogLine(ctx, "ModRegistry", "SetRegDwordValue64", "INFO",
                         "REGISTRY VALUE IS NOT AVAILABLE", keyPath);
            WriteDword(reg, key.get(), valueName, bytes, keyPath);
            key.reset();
            ctx.regValueChanged = true;
            WriteLogLine(ctx, "ModRegistry", "SetRegDwordValue64", "INFO",
                         "REGISTRY VALUE TURNED OFF ", valueName, keyPath);
        }
        WriteLogLine(ctx, "ModRegistry", "SetRegDwordValue64", "INFO",
                     "Successfully modified Registry Values", valueName, keyPath, valueText);
    } catch (const std::exception& e) {
        const run::Trapped failure = run::Trap(ctx, e);
        WriteLogLine(ctx, "ModRegistry", "SetRegDwordValue64", "ERROR",
                     "Modifying Registry - " + valueName, failure.source, failure.description,
                     failure.lastError);
    }
}

}  // namespace registry

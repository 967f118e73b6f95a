#include "registry/os_facts.h"

#include <algorithm>
#include <vector>

#include "common/failure.h"
#include "log/activity_log.h"
#include "platform/handle_owner.h"
#include "run/failures.h"

namespace registry {

using activity_log::WriteLogLine;

namespace {

constexpr const char* kRebootRequiredKey =
    "SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\WindowsUpdate\\Auto Update\\RebootRequired";
constexpr const char* kWindowsVersionKey = "SOFTWARE\\Microsoft\\Windows NT\\CurrentVersion";
// Read access only: the key's existence is all that is asked, and a key whose rights refuse
// writing (as an administrator or a policy may set them) still marks a pending reboot.
constexpr platform::DWORD kReadAccess64 = platform::kKeyRead | platform::kKeyWow64_64Key;
constexpr platform::DWORD kReadOsAccess = 0x13F;  // KEY_WOW64_64KEY | 0x3F
constexpr platform::DWORD kTextBufferSize = 255;

}  // namespace

bool fncRebootPending(run::RunContext& ctx) {
    auto& reg = ctx.platform.registry();
    platform::OwnedKey key(reg);
    bool result = false;
    try {
        const platform::LONG code = reg.RegOpenKeyExA(
            platform::kHkeyLocalMachine, kRebootRequiredKey, 0, kReadAccess64, key.put());
        WriteLogLine(ctx, "ModRegistry", "fncRebootPending", "INFO",
                     "Reboot registry return status - " + std::to_string(code));
        result = code == platform::kErrorSuccess;
    } catch (const std::exception& e) {
        const run::Trapped failure = run::Trap(ctx, e);
        WriteLogLine(ctx, "ModRegistry", "fncRebootPending", "ERROR",
                     "Error finding Registry for Reboot Pending",
                     failure.number + ":" + failure.description, failure.lastError);
        result = false;
    }
    ctx.rebootFlagRead = true;
    ctx.rebootFlagSet = result;
    return result;
}

std::string ReadOSInfo(run::RunContext& ctx, const std::string& valueName) {
    auto& reg = ctx.platform.registry();
    platform::OwnedKey key(reg);
    std::string result;
    try {
        if (reg.RegOpenKeyExA(platform::kHkeyLocalMachine, kWindowsVersionKey, 0, kReadOsAccess,
                              key.put()) == platform::kErrorSuccess) {
            std::vector<platform::BYTE> buffer(kTextBufferSize, 0);
            platform::DWORD size = kTextBufferSize;
            platform::DWORD type = 0;
            if (reg.RegQueryValueExA(key.get(), valueName.c_str(), &type, buffer.data(), &size) ==
                platform::kErrorSuccess) {
                const auto nul = std::find(buffer.begin(), buffer.end(), 0);
                if (nul == buffer.end()) common::Raise(common::kInvalidCall);
                result.assign(buffer.begin(), nul);
            }
        }
    } catch (const std::exception& e) {
        const run::Trapped failure = run::Trap(ctx, e);
        WriteLogLine(ctx, "ModRegistry", "ReadOSInfo", "ERROR", "Fail to retrive OS Info.",
                     failure.number, failure.description);
        result.clear();
    }
    return result;
}

}  // namespace registry

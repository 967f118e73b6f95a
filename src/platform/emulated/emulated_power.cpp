#include "platform/emulated/emulated_power.h"

#include <cstdlib>

#include "platform/emulated/text_codec.h"

namespace platform::emulated {

namespace {

constexpr DWORD kShutdownPrivilege = 19;

using Kind = Machine::Object::Kind;

struct PrivilegeName {
    const char* name;
    DWORD value;
};

constexpr PrivilegeName kPrivileges[] = {
    {"SeTcbPrivilege", 7},
    {"SeSecurityPrivilege", 8},
    {"SeBackupPrivilege", 17},
    {"SeRestorePrivilege", 18},
    {"SeShutdownPrivilege", 19},
    {"SeDebugPrivilege", 20},
    {"SeRemoteShutdownPrivilege", 24},
};

bool IsLocal(const char* name) {
    return !name || !*name || std::string(name) == "." || EqualsNoCase(name, "localhost");
}

}  // namespace

bool EmulatedPower::HoldsShutdownPrivilege() const {
    return machine_.facts().Get("Account", "ShutdownPrivilege").value_or("1") != "0";
}

DWORD EmulatedPower::FactCode(const char* section, const char* name) const {
    const auto fact = machine_.facts().Get(section, name);
    return fact ? static_cast<DWORD>(std::strtoul(fact->c_str(), nullptr, 10)) : 0;
}

bool EmulatedPower::OpenCurrentProcessToken(DWORD /*access*/, HANDLE* token) {
    if (!token) {
        machine_.lastError = kErrorInvalidParameter;
        return false;
    }
    Machine::Object object;
    object.kind = Kind::Token;
    object.account = machine_.facts().Get("Account", "UserName").value_or("SYSTEM");
    *token = machine_.NewHandle(object);
    return true;
}

bool EmulatedPower::LookupPrivilegeValueA(const char* systemName, const char* name, Luid* luid) {
    if (!IsLocal(systemName)) {
        machine_.lastError = kRpcServerUnavailable;
        return false;
    }
    if (!name || !luid) {
        machine_.lastError = kErrorInvalidParameter;
        return false;
    }
    for (const PrivilegeName& privilege : kPrivileges) {
        if (EqualsNoCase(privilege.name, name)) {
            *luid = Luid{privilege.value, 0};
            return true;
        }
    }
    machine_.lastError = kErrorNoSuchPrivilege;
    return false;
}

bool EmulatedPower::AdjustTokenPrivileges(HANDLE token, bool disableAll,
                                          const TokenPrivileges2* newState, DWORD bufferLength,
                                          TokenPrivileges2* previousState, DWORD* returnLength) {
    if (!machine_.Find(token, Kind::Token)) return false;
    if (!disableAll && (!newState || newState->privilegeCount > 2)) {
        machine_.lastError = kErrorInvalidParameter;
        return false;
    }
    // Only the shutdown privilege has a state here; the others are held and stay as they are.
    const bool wasEnabled = shutdownEnabled_;
    bool wanted = false;
    bool changesShutdown = disableAll;
    if (!disableAll) {
        for (DWORD i = 0; i < newState->privilegeCount; ++i) {
            const LuidAndAttributes& entry = newState->privileges[i];
            if (entry.luid == Luid{kShutdownPrivilege, 0}) {
                changesShutdown = true;
                wanted = (entry.attributes & kSePrivilegeEnabled) != 0;
            }
        }
    }
    const bool assigned = !changesShutdown || !wanted || HoldsShutdownPrivilege();
    const bool changed = changesShutdown && assigned && wanted != wasEnabled;
    const DWORD needed = 4 + (changed ? 12 : 0);
    if (previousState) {
        if (bufferLength < needed) {
            if (returnLength) *returnLength = needed;
            machine_.lastError = kErrorInsufficientBuffer;
            return false;
        }
        *previousState = TokenPrivileges2{};
        if (changed) {
            previousState->privilegeCount = 1;
            previousState->privileges[0] = {Luid{kShutdownPrivilege, 0},
                                            wasEnabled ? kSePrivilegeEnabled : 0};
        }
    }
    if (returnLength) *returnLength = needed;
    if (changed) shutdownEnabled_ = wanted;
    machine_.lastError = assigned ? 0 : kErrorNotAllAssigned;
    return true;
}

namespace {

// 0x80020011
std::string Hex(DWORD value) {
    static constexpr char kDigits[] = "0123456789ABCDEF";
    std::string text = "0x";
    for (int shift = 28; shift >= 0; shift -= 4) text += kDigits[(value >> shift) & 0xF];
    return text;
}

}  // namespace

bool EmulatedPower::InitiateSystemShutdownExA(const char* machineName, const char* message,
                                              DWORD timeoutSeconds, bool forceAppsClosed,
                                              bool rebootAfterShutdown, DWORD reason) {
    if (machine_.HangsPast("Power.InitiateSystemShutdownExA", kPowerCallMs)) {
        machine_.lastError = kErrorTimeout;
        return false;
    }
    DWORD refused = 0;
    if (!IsLocal(machineName)) {
        refused = 53;  // ERROR_BAD_NETPATH
    } else if (!shutdownEnabled_) {
        refused = kErrorPrivilegeNotHeld;
    } else {
        refused = FactCode("Power", "ShutdownError");
    }
    machine_.Journal(std::string("InitiateSystemShutdown machine=") +
                     (IsLocal(machineName) ? "(local)" : machineName) + " message=\"" +
                     (message ? message : "") + "\" timeout=" + std::to_string(timeoutSeconds) +
                     " force=" + (forceAppsClosed ? "1" : "0") +
                     " reboot=" + (rebootAfterShutdown ? "1" : "0") + " reason=" + Hex(reason) +
                     (refused ? " refused error=" + std::to_string(refused) : " accepted"));
    if (refused) {
        machine_.lastError = refused;
        return false;
    }
    return true;
}

HANDLE EmulatedPower::RegisterEventSourceA(const char* serverName, const char* sourceName) {
    if (!IsLocal(serverName)) {
        machine_.lastError = kRpcServerUnavailable;
        return 0;
    }
    if (machine_.HangsPast("Power.RegisterEventSourceA", kPowerCallMs)) {
        machine_.lastError = kErrorTimeout;
        return 0;
    }
    if (const DWORD error = FactCode("EventLog", "OpenError")) {
        machine_.lastError = error;
        return 0;
    }
    Machine::Object object;
    object.kind = Kind::EventLog;
    object.account = sourceName ? sourceName : "";
    const HANDLE handle = machine_.NewHandle(object);
    logs_[handle] = object.account;
    return handle;
}

bool EmulatedPower::ReportEventA(HANDLE eventLog, std::uint16_t type, std::uint16_t category,
                                 DWORD eventId, const std::vector<std::string>& strings) {
    if (!machine_.Find(eventLog, Kind::EventLog)) return false;
    if (machine_.HangsPast("Power.ReportEventA", kPowerCallMs)) {
        machine_.lastError = kErrorTimeout;
        return false;
    }
    if (const DWORD error = FactCode("EventLog", "ReportError")) {
        machine_.lastError = error;
        return false;
    }
    std::string texts;
    for (const auto& text : strings) texts += (texts.empty() ? "\"" : " \"") + text + "\"";
    machine_.Journal("ReportEvent log=" + logs_[eventLog] + " type=" + std::to_string(type) +
                     " category=" + std::to_string(category) + " id=" + std::to_string(eventId) +
                     " strings=" + texts);
    return true;
}

bool EmulatedPower::DeregisterEventSource(HANDLE eventLog) {
    logs_.erase(eventLog);
    return machine_.Close(eventLog, {Kind::EventLog});
}

}  // namespace platform::emulated

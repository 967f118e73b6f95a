#include "platform/emulated/emulated_wmi.h"

#include <cstdio>
#include <ctime>
#include <string_view>

#include "common/dates.h"
#include "platform/emulated/host.h"
#include "platform/emulated/text_codec.h"

namespace platform::emulated {

namespace {

constexpr LONG kServerUnavailable = static_cast<LONG>(0x800706BAu);  // RPC_S_SERVER_UNAVAILABLE
constexpr LONG kInvalidClass = static_cast<LONG>(0x80041010u);       // WBEM_E_INVALID_CLASS
constexpr LONG kInvalidParameter = static_cast<LONG>(0x80041008u);   // WBEM_E_INVALID_PARAMETER

char LowerAscii(char c) {
    return (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c;
}

// Whether text continues at at with word (ASCII letters without regard to case); moves at past it.
bool TakeWord(std::string_view text, std::size_t& at, std::string_view word) {
    if (text.size() - at < word.size()) return false;
    for (std::size_t i = 0; i < word.size(); ++i) {
        if (LowerAscii(text[at + i]) != word[i]) return false;
    }
    at += word.size();
    return true;
}

bool IsSpace(char c) {
    return c == ' ' || (c >= '\t' && c <= '\r');
}
bool IsWordChar(char c) {
    return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == '_';
}
// Skips white space; returns how much.
std::size_t SkipSpaces(std::string_view text, std::size_t& at) {
    const std::size_t from = at;
    while (at < text.size() && IsSpace(text[at])) ++at;
    return at - from;
}

// A query "select * from <class>" (words without regard to case, white space around and between
// them); the class name of letters, digits and "_".
bool ParseSelectAll(std::string_view query, std::string& className) {
    std::size_t at = 0;
    SkipSpaces(query, at);
    if (!TakeWord(query, at, "select") || SkipSpaces(query, at) == 0) return false;
    if (at >= query.size() || query[at] != '*') return false;
    ++at;
    if (SkipSpaces(query, at) == 0 || !TakeWord(query, at, "from") || SkipSpaces(query, at) == 0) {
        return false;
    }
    const std::size_t from = at;
    while (at < query.size() && IsWordChar(query[at])) ++at;
    if (at == from) return false;
    className = query.substr(from, at - from);
    SkipSpaces(query, at);
    return at == query.size();
}

bool IsThisComputer(const std::string& server) {
    return server.empty() || server == "." || EqualsNoCase(server, "localhost");
}

// What a fact makes of one property: a value, a null, no object, or a failed query.
struct Answer {
    enum class Kind { Value, Null, NoObject, Failed } kind = Kind::Value;
    std::string value;
};

std::optional<Answer> FromFact(const Machine& machine, const char* name) {
    const auto fact = machine.facts().Get("System", name);
    if (!fact) return std::nullopt;
    if (fact->empty()) return Answer{Answer::Kind::Failed, {}};
    if (*fact == "(null)") return Answer{Answer::Kind::Null, {}};
    if (*fact == "(none)") return Answer{Answer::Kind::NoObject, {}};
    return Answer{Answer::Kind::Value, *fact};
}

// The local offset from UTC in minutes, as the host's time zone has it now (a time zone east of
// Greenwich is ahead: India's is +330).
long LocalOffsetMinutes() {
    const std::time_t now = std::time(nullptr);
    std::tm local{};
    std::tm utc{};
    if (!host::LocalTime(now, &local) || !host::UtcTime(now, &utc)) return 0;
    const auto minutes = [](const std::tm& tm) {
        return (common::DaysFromCivil(tm.tm_year + 1900, tm.tm_mon + 1, tm.tm_mday) * 24 +
                tm.tm_hour) *
                   60 +
               tm.tm_min;
    };
    return static_cast<long>(minutes(local) - minutes(utc));
}

// The CIM DATETIME text of the local time upTimeSeconds before now.
std::string BootTimeText(Clock& clock, std::uint64_t upTimeSeconds) {
    const SystemTime now = clock.GetLocalTime();
    const SystemTime boot =
        common::TimeOfSeconds(common::SecondsOf(now) - static_cast<std::int64_t>(upTimeSeconds));
    const long offset = LocalOffsetMinutes();
    char text[64];
    std::snprintf(text, sizeof text, "%04d%02d%02d%02d%02d%02d.000000%c%03ld", boot.year,
                  boot.month, boot.day, boot.hour, boot.minute, boot.second, offset < 0 ? '-' : '+',
                  offset < 0 ? -offset : offset);
    return text;
}

}  // namespace

LONG EmulatedWmi::Connect(const std::string& server, const std::string& nameSpace,
                          WmiService* service) {
    if (!service) return kInvalidParameter;
    *service = 0;
    if (!IsThisComputer(server)) return kServerUnavailable;
    // A service that does not answer: the connection gives up within WMI's maximum wait.
    if (machine_.HangsPast("Wmi.ConnectServer", kWmiConnectMaxWaitMs)) return kTimeoutHresult;
    std::string name = nameSpace;
    for (char& c : name) {
        if (c == '/') c = '\\';
    }
    if (!EqualsNoCase(name, "root\\cimv2")) return kWbemInvalidNamespace;
    *service = next_;
    next_ += 4;
    services_[*service] = true;
    return 0;
}

LONG EmulatedWmi::BindMoniker(const std::string& server, const std::string& nameSpace,
                              int /*impersonationLevel*/, WmiService* service) {
    return Connect(server, nameSpace.empty() ? "root\\cimv2" : nameSpace, service);
}

LONG EmulatedWmi::ConnectServer(const std::string& server, const std::string& nameSpace,
                                const std::string& /*user*/, const std::string& /*password*/,
                                int /*impersonationLevel*/, WmiService* service) {
    return Connect(server, nameSpace, service);
}

LONG EmulatedWmi::ExecQuery(WmiService service, const std::string& query,
                            const std::vector<std::string>& properties,
                            std::vector<WmiObject>* objects) {
    if (!objects || !services_.count(service)) return kInvalidParameter;
    objects->clear();
    std::string className;
    if (!ParseSelectAll(query, className)) return kWbemInvalidQuery;
    // The query returns at once; its first Next waits for a service or provider that does not
    // answer as long as the enumeration's time-out.
    if (machine_.HangsPast("Wmi.ExecQuery", kWmiNextTimeoutMs)) return kTimeoutHresult;

    // Each object offers the properties of its class; those asked for are copied.
    auto add = [&](const std::map<std::string, std::optional<std::string>>& offered) {
        WmiObject object;
        for (const auto& wanted : properties) {
            for (const auto& [name, value] : offered) {
                if (EqualsNoCase(name, wanted)) object.properties[wanted] = value;
            }
        }
        objects->push_back(std::move(object));
    };
    auto answer = [&](const char* property, const char* factName,
                      const std::string& computed) -> LONG {
        const Answer given =
            FromFact(machine_, factName).value_or(Answer{Answer::Kind::Value, computed});
        switch (given.kind) {
            case Answer::Kind::Failed:
                return kWbemFailed;
            case Answer::Kind::NoObject:
                return 0;
            case Answer::Kind::Null:
                add({{property, std::nullopt}});
                return 0;
            case Answer::Kind::Value:
                add({{property, given.value}});
                return 0;
        }
        return 0;
    };

    // The clock's tick count: [System] TickCount64, else the real host's up-time.
    const std::uint64_t upTime = clock_.GetTickCount64() / 1000;
    if (EqualsNoCase(className, "Win32_OperatingSystem")) {
        return answer("LastBootUpTime", "LastBootUpTime", BootTimeText(clock_, upTime));
    }
    if (EqualsNoCase(className, "Win32_PerfFormattedData_PerfOS_System")) {
        return answer("SystemUpTime", "SystemUpTime", std::to_string(upTime));
    }
    return kInvalidClass;
}

void EmulatedWmi::ReleaseService(WmiService service) {
    services_.erase(service);
}

}  // namespace platform::emulated

#include "platform/emulated/fact_list.h"

#include <cstdint>
#include <fstream>
#include <iterator>
#include <sstream>
#include <system_error>

#include "platform/emulated/machine.h"
#include "platform/emulated/reg_file.h"
#include "platform/emulated/text_codec.h"

namespace platform::emulated {

namespace fs = std::filesystem;

namespace {

using K = FactKind;

// Named facts before the section's any-name entry, so that [Tasks] Service is a flag while a task
// path gives a state.
constexpr KnownFact kFacts[] = {
    {"Environment", nullptr, K::kText, false},
    {"Clock", "Now", K::kLocalTime, false},
    {"Clock", "MaxWaitMs", K::kNumber, false},
    {"Clock", "BoundScale", K::kNumber, false},
    {"Clock", "SystemClock", K::kClock, false},
    {"System", "Wow64", K::kFlag, false},
    {"System", "TickCount64", K::kNumber, true},
    {"System", "SystemDirectory", K::kText, false},
    {"System", "LastBootUpTime", K::kCimTime, true},
    {"System", "SystemUpTime", K::kNumber, true},
    {"Hang", nullptr, K::kHang, false},
    {"Console", "SessionId", K::kNumber, false},
    {"Console", "User", K::kText, false},
    {"Sessions", nullptr, K::kText, false},
    {"ProcessOwners", nullptr, K::kText, false},
    {"Account", "UserName", K::kText, false},
    {"Account", "ShutdownPrivilege", K::kFlag, false},
    {"Power", "ShutdownError", K::kNumber, false},
    {"EventLog", "OpenError", K::kNumber, false},
    {"EventLog", "ReportError", K::kNumber, false},
    {"Tasks", "Service", K::kFlag, false},
    {"Tasks", nullptr, K::kNumber, false},
    {"Job", "InJob", K::kFlag, false},
    {"Job", "BreakawayOk", K::kFlag, false},
    {"Job", "SilentBreakawayOk", K::kFlag, false},
    {"Job", "KillOnClose", K::kFlag, false},
    {"FileAccess", nullptr, K::kText, false},
    {"FileOwners", nullptr, K::kText, false},
    {"Accounts", nullptr, K::kText, false},
    {"LocalGroups", "Administrators", K::kText, false},
    {"FileRights", nullptr, K::kText, false},
    {"ReparseOwners", nullptr, K::kText, false},
    {"BlockedPrograms", nullptr, K::kFlag, false},
    {"ZoneMarks", nullptr, K::kNumber, false},
    {"Instance", "HeldBy", K::kText, false},
    {"Instance", "SquattedBy", K::kText, false},
    {"Instance", "SquatObject", K::kSquat, false},
    {"Processes", nullptr, K::kText, false},
    {"ProtectedProcesses", nullptr, K::kFlag, false},
    {"RegistryReadOnly", nullptr, K::kFlag, false},
    {"RegistryUnreadable", nullptr, K::kFlag, false},
    {"KeyTimes", nullptr, K::kUtcTime, false},
    {"MissingComponents", nullptr, K::kFlag, false},
};

bool Digits(const std::string& text, std::size_t from, std::size_t count) {
    if (from + count > text.size()) return false;
    for (std::size_t i = from; i < from + count; ++i) {
        if (text[i] < '0' || text[i] > '9') return false;
    }
    return true;
}

int Number(const std::string& text, std::size_t from, std::size_t count) {
    int value = 0;
    for (std::size_t i = from; i < from + count; ++i) value = value * 10 + (text[i] - '0');
    return value;
}

bool RealDate(int year, int month, int day, int hour, int minute, int second) {
    static constexpr int kDays[] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
    if (year < 1601 || month < 1 || month > 12 || day < 1) return false;
    const bool leap = (year % 4 == 0 && year % 100 != 0) || year % 400 == 0;
    const int days = kDays[month - 1] + (month == 2 && leap ? 1 : 0);
    return day <= days && hour <= 23 && minute <= 59 && second <= 59;
}

std::string KindText(FactKind kind) {
    switch (kind) {
        case K::kText:
            return "a text on one line";
        case K::kNumber:
            return "a number";
        case K::kFlag:
            return "0 or 1";
        case K::kLocalTime:
            return "a local time 'YYYY-MM-DD HH:MM:SS' that exists";
        case K::kUtcTime:
            return "a UTC time 'YYYY-MM-DD HH:MM:SS' that exists";
        case K::kCimTime:
            return "a CIM date-time 'yyyymmddHHMMSS.mmmmmm+UUU'";
        case K::kHang:
            return "milliseconds or 'forever'";
        case K::kSquat:
            return "mutex, sealed or event";
        case K::kClock:
            return "host or pinned";
    }
    return "";
}

std::optional<std::string> ReadAll(const fs::path& path) {
    std::ifstream in(path, std::ios::binary);
    if (!in) return std::nullopt;
    return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

}  // namespace

const KnownFact* FindKnownFact(const std::string& section, const std::string& name) {
    for (const KnownFact& fact : kFacts) {
        if (!EqualsNoCase(fact.section, section)) continue;
        if (!fact.name || EqualsNoCase(fact.name, name)) return &fact;
    }
    return nullptr;
}

bool IsKnownSection(const std::string& section) {
    for (const KnownFact& fact : kFacts) {
        if (EqualsNoCase(fact.section, section)) return true;
    }
    return false;
}

bool IsLocalTimeText(const std::string& text) {
    if (text.size() != 19 || text[4] != '-' || text[7] != '-' || text[10] != ' ' ||
        text[13] != ':' || text[16] != ':') {
        return false;
    }
    for (const std::size_t at : {0u, 5u, 8u, 11u, 14u, 17u}) {
        if (!Digits(text, at, at == 0 ? 4 : 2)) return false;
    }
    return RealDate(Number(text, 0, 4), Number(text, 5, 2), Number(text, 8, 2), Number(text, 11, 2),
                    Number(text, 14, 2), Number(text, 17, 2));
}

std::string FactValueProblem(const KnownFact& fact, const std::string& value) {
    for (const char c : value) {
        if (c == '\r' || c == '\n' || c == '\0') return "a value holds no line break or NUL";
    }
    if (fact.queryForms && (value.empty() || value == "(null)" || value == "(none)")) return {};
    bool good = false;
    switch (fact.kind) {
        case K::kText:
            good = true;
            break;
        case K::kNumber:
            good = !value.empty() && value.size() <= 20 && Digits(value, 0, value.size());
            break;
        case K::kFlag:
            good = value == "0" || value == "1";
            break;
        case K::kLocalTime:
        case K::kUtcTime:
            good = IsLocalTimeText(value);
            break;
        case K::kCimTime:
            good = value.size() == 25 && Digits(value, 0, 14) && value[14] == '.' &&
                   Digits(value, 15, 6) && (value[21] == '+' || value[21] == '-') &&
                   Digits(value, 22, 3) &&
                   RealDate(Number(value, 0, 4), Number(value, 4, 2), Number(value, 6, 2),
                            Number(value, 8, 2), Number(value, 10, 2), Number(value, 12, 2));
            break;
        case K::kHang:
            good = EqualsNoCase(value, "forever") ||
                   (!value.empty() && value.size() <= 10 && Digits(value, 0, value.size()));
            break;
        case K::kSquat:
            good = value == "mutex" || value == "sealed" || value == "event";
            break;
        case K::kClock:
            good = EqualsNoCase(value, "host") || EqualsNoCase(value, "pinned");
            break;
    }
    return good ? std::string() : "not " + KindText(fact.kind);
}

std::string WhatIfProblem(const std::string& assignment) {
    const auto equals = assignment.find('=');
    const auto dot = assignment.find('.');
    if (equals == std::string::npos || dot == std::string::npos || dot == 0 || dot + 1 >= equals) {
        return "not Section.Key=Value";
    }
    const std::string section = assignment.substr(0, dot);
    const std::string name = assignment.substr(dot + 1, equals - dot - 1);
    const KnownFact* fact = FindKnownFact(section, name);
    if (!fact) return "no fact " + section + "." + name + " in the machine-folder format";
    for (const char c : name) {
        if (c == '\r' || c == '\n' || c == '\0' || c == '[' || c == ']') {
            return "a key holds no line break, NUL or bracket";
        }
    }
    const std::string problem = FactValueProblem(*fact, assignment.substr(equals + 1));
    return problem.empty() ? problem : fact->section + std::string(".") + name + ": " + problem;
}

std::vector<std::string> MachineFolderProblems(const fs::path& folder) {
    std::vector<std::string> problems;
    std::error_code error;
    std::uintmax_t total = 0;
    std::size_t entries = 0;
    const auto relative = [&](const fs::path& path) {
        return path.lexically_relative(folder).string();
    };
    fs::recursive_directory_iterator it(folder, error), end;
    if (error) return {folder.string() + ": " + error.message()};
    for (; it != end; it.increment(error)) {
        if (error) {
            problems.push_back(relative(it->path()) + ": " + error.message());
            return problems;
        }
        if (++entries > kFolderEntries) {
            problems.push_back(". : more than " + std::to_string(kFolderEntries) + " entries");
            return problems;
        }
        const fs::file_status status = it->symlink_status(error);
        if (fs::is_directory(status)) continue;
        if (!fs::is_regular_file(status)) {
            const char* what = fs::is_symlink(status)          ? "a symbolic link"
                               : fs::is_fifo(status)           ? "a FIFO"
                               : fs::is_block_file(status)     ? "a block device"
                               : fs::is_character_file(status) ? "a character device"
                               : fs::is_socket(status)         ? "a socket"
                                                               : "not a regular file";
            problems.push_back(relative(it->path()) + ": " + what +
                               ", not a regular file or a folder");
            continue;
        }
        const std::uintmax_t size = it->file_size(error);
        total += size;
        if (size > kFolderFileBytes) {
            problems.push_back(relative(it->path()) + ": " + std::to_string(size) +
                               " bytes, more than " + std::to_string(kFolderFileBytes));
        }
    }
    if (total > kFolderTotalBytes) {
        problems.push_back(". : " + std::to_string(total) + " bytes in all, more than " +
                           std::to_string(kFolderTotalBytes));
    }
    if (!problems.empty()) return problems;  // nothing more is read of such a folder

    for (const char* name : {"machine.ini", "capture.ini"}) {
        const auto text = ReadAll(folder / name);
        if (!text) continue;
        try {
            const MachineFacts facts = MachineFacts::Parse(*text, name);
            if (std::string(name) != "machine.ini") continue;
            for (const auto& entry : facts.Entries()) {
                const KnownFact* fact = FindKnownFact(entry.section, entry.name);
                if (!fact) continue;  // read by nothing: left as it is
                const std::string problem = FactValueProblem(*fact, entry.value);
                if (!problem.empty()) {
                    problems.push_back(std::string(name) + ": [" + entry.section + "] " +
                                       entry.name + "=" + entry.value + ": " + problem);
                }
            }
        } catch (const MachineError& e) {
            problems.push_back(e.what());
        }
    }
    const fs::path registry = folder / "registry";
    if (fs::is_directory(registry, error)) {
        for (const auto& entry : fs::directory_iterator(registry, error)) {
            if (!EqualsNoCase(entry.path().extension().string(), ".reg")) continue;
            const auto text = ReadAll(entry.path());
            try {
                if (text) RegHive::Parse(*text);
            } catch (const RegFormatError& e) {
                problems.push_back(relative(entry.path()) + ": " + e.what());
            }
        }
    }
    return problems;
}

}  // namespace platform::emulated

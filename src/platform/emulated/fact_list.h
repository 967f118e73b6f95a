// The facts of machine.ini that the emulated host reads, each with the kind of value it takes: the
// one list that the host's reads, the replay's what-if check and the folder check all go by.
#pragma once

#include <cstdint>
#include <filesystem>
#include <string>
#include <vector>

namespace platform::emulated {

enum class FactKind {
    kText,       // any text on one line
    kNumber,     // an unsigned decimal number
    kFlag,       // 0 or 1
    kLocalTime,  // "YYYY-MM-DD HH:MM:SS", a time that exists on the calendar
    kUtcTime,    // the same, in UTC
    kCimTime,    // "yyyymmddHHMMSS.mmmmmm+UUU", the CIM date-time text
    kHang,       // milliseconds, or "forever"
    kSquat,      // mutex, sealed or event
    kClock,      // host or pinned
};

struct KnownFact {
    const char* section;
    const char* name;  // nullptr: any name (a path, a process id, a variable ...)
    FactKind kind;
    bool queryForms;  // "" (the query fails), "(null)" and "(none)" are values too
};

// The known fact of that section and name (names compared without regard to case), or null.
const KnownFact* FindKnownFact(const std::string& section, const std::string& name);

// Whether the list holds any fact of that section.
bool IsKnownSection(const std::string& section);

// Why value is not one of kind; empty when it is.
std::string FactValueProblem(const KnownFact& fact, const std::string& value);

// "YYYY-MM-DD HH:MM:SS" naming a time that exists on the calendar (months 1-12, the month's own
// days, 29 February in leap years only, hours 0-23, minutes and seconds 0-59).
bool IsLocalTimeText(const std::string& text);

// Why a what-if fact "Section.Key=Value" cannot be set; empty when it can.
std::string WhatIfProblem(const std::string& assignment);

// The bounds of a machine folder taken from elsewhere (a capture).
inline constexpr std::uintmax_t kFolderFileBytes = 64u << 20;    // any one file
inline constexpr std::uintmax_t kFolderTotalBytes = 512u << 20;  // all files together
inline constexpr std::size_t kFolderEntries = 100000;            // files and folders

// Every problem of a machine folder taken from elsewhere, before anything runs on it: an entry
// that is neither a regular file nor a folder (a link, a FIFO, a device, a socket), a bound
// exceeded, a machine.ini or capture.ini that does not read, a registry file (registry/*.reg)
// that does not read, a known fact whose value is not of its kind. Each "<path>: <reason>", the
// path relative to the folder, the reason as the emulated host words it ("line 3: ...").
std::vector<std::string> MachineFolderProblems(const std::filesystem::path& folder);

}  // namespace platform::emulated

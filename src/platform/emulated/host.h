// What the emulated host asks of the computer it runs on: the few services a POSIX system (the
// Linux runs, host_posix.cpp) and Windows (the Windows test binary, which holds the emulation
// next to the real implementation: src/platform/win32/emulation/host_windows.cpp) give in their
// own ways. The build chooses the implementation.
#pragma once

#include <cstdint>
#include <ctime>
#include <filesystem>
#include <functional>
#include <string>

#include "platform/files.h"
#include "platform/types.h"

namespace platform::emulated::host {

// The calendar time of a moment in the host's time zone, and in UTC; false when it cannot be
// told.
bool LocalTime(std::time_t seconds, std::tm* tm);
bool UtcTime(std::time_t seconds, std::tm* tm);

// The milliseconds since the host computer started, as GetTickCount64 counts them.
std::uint64_t TickCount64();

// The process id the emulated host gives the running program: the host's own (a fixed id in the
// Windows build, where the host's id is the test binary's).
DWORD OwnProcessId();

// Opens the file (made when missing) and takes an exclusive lock on it, held until ReleaseFileLock:
// a descriptor to give back, or -1. *heldElsewhere tells whether another process holds the lock
// (an unusable file tells of none).
int TakeFileLock(const std::filesystem::path& path, bool* heldElsewhere);
void ReleaseFileLock(int descriptor);

// Writes bytes to a new file (one of that name must not exist), all of them stored before it
// returns; false, with no file left behind, when it cannot.
bool WriteNewFile(const std::filesystem::path& path, const std::string& bytes);

// A folder or a plain file described from one query of the host, as FindFirstFile describes it;
// false for anything else (a missing file, a device), which the caller then describes one
// question at a time.
bool QuickDescribe(const std::string& path, const std::string& name, FindData* data);

// What the host has at a path, a link in its last part not followed: nothing, a folder, a
// symbolic link or another kind of entry.
enum class Entry { Missing, Folder, Link, Other };
Entry Look(const std::string& path);

// The first name in the folder (as the host lists it) that equals name without regard to ASCII
// case; empty when there is none or the folder cannot be listed.
std::string NameWithoutCase(const std::string& folder, const std::string& name);

// Each name in the folder except "." and "..", with its host path (unsorted), and what describes
// that entry as QuickDescribe does, from the open folder (its path is not walked again).
using Describer = std::function<bool(FindData* data)>;
void ForEachName(const std::filesystem::path& folder,
                 const std::function<void(const std::string& path, const std::string& name,
                                          const Describer& describe)>& each);

}  // namespace platform::emulated::host

// A capture written out as a machine folder (registry/HKLM.reg, drives/<letter>/..., machine.ini)
// with the emulated host's own writers, plus capture.ini (what was read, how, and what failed)
// and, when redacted, redaction.ini.
#pragma once

#include <cstdint>
#include <filesystem>
#include <memory>
#include <string>

#include "capture/capture.h"
#include "platform/files.h"

namespace capture {

// The host path of a Windows path inside the folder: C:\A\b is <folder>/drives/c/A/b, a path
// without a drive is on drive C, \\server\share\x is <folder>/network/server/share/x.
std::filesystem::path FolderPath(const std::filesystem::path& folder,
                                 const std::string& windowsPath);

// Whether `path` lies in `folder` or below it: both as absolute paths, "\" and "/" alike,
// without regard to case (a Windows path such as C:\ProgramData\VERUZE\ included).
bool InsideFolder(const std::string& path, const std::string& folder);

// The path of a Windows path inside the folder, relative to it, "/" between its parts:
// C:\A\b is drives/c/A/b.
std::string RelativePath(const std::string& windowsPath);

// Where a capture is written: the capture's own folder, which it makes itself with a DACL that
// gives its account and the Administrators alone any right, or an existing one that is empty, no
// link, and that no other account may change. Below it every folder and file is made new, never
// through a link: a name that is there already (a link someone put there included) fails the
// write. Relative paths use "/" between their parts.
class CaptureOutput {
public:
    virtual ~CaptureOutput() = default;
    // Makes the folder (its missing parents too, as plain folders) or takes the existing one;
    // false with why in *error.
    virtual bool Open(std::string* error) = 0;
    // Removes the folder again when Open made it (a capture refused once it was opened).
    virtual void Abandon() = 0;
    // A folder inside: made new, unless this output made it already.
    virtual bool MakeFolder(const std::string& relative) = 0;
    // A new file with its bytes and its last-write time (a FILETIME; 0 keeps the time of the
    // write).
    virtual bool WriteNewFile(const std::string& relative, const std::string& bytes,
                              std::uint64_t lastWriteTime) = 0;
};

// The output through the files facet, the folder named by its Windows path: the Windows build,
// whose facet is the real file system (CreateProtectedDirectoryA, CreateDirectoryA, CREATE_NEW).
std::unique_ptr<CaptureOutput> FilesOutput(platform::Platform& platform, const std::string& folder);
// The output on the files of the POSIX host the Linux build runs on: the folder it makes is its
// account's alone (mode 0700), files are made with O_CREAT | O_EXCL, which follows no link.
std::unique_ptr<CaptureOutput> HostOutput(const std::filesystem::path& folder);

// Writes the capture into the opened output. `manifest` is redaction.ini's text, empty when the
// capture is not redacted. False with the reason in *error when a folder or file cannot be made.
bool WriteCaptureFolder(const MachineCapture& capture, const std::string& manifest,
                        CaptureOutput& output, std::string* error);
// The same into a folder of the host (HostOutput), opened first.
bool WriteCaptureFolder(const MachineCapture& capture, const std::string& manifest,
                        const std::filesystem::path& folder, std::string* error);

// The INI text of a list of facts, each "name=value" in its section, in the list's order.
std::string IniText(const std::vector<Fact>& facts, const std::string& comment);

}  // namespace capture

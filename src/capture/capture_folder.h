// A capture written out as a machine folder (registry/HKLM.reg, drives/<letter>/..., machine.ini)
// with the emulated host's own writers, plus capture.ini (what was read, how, and what failed)
// and, when redacted, redaction.ini.
#pragma once

#include <filesystem>
#include <string>

#include "capture/capture.h"

namespace capture {

// The host path of a Windows path inside the folder: C:\A\b is <folder>/drives/c/A/b, a path
// without a drive is on drive C, \\server\share\x is <folder>/network/server/share/x.
std::filesystem::path FolderPath(const std::filesystem::path& folder,
                                 const std::string& windowsPath);

// Whether `path` lies in `folder` or below it: both as absolute paths, "\" and "/" alike,
// without regard to case (a Windows path such as C:\ProgramData\VERUZE\ included).
bool InsideFolder(const std::string& path, const std::string& folder);

// Writes the capture into `folder` (made when missing). `manifest` is redaction.ini's text, empty
// when the capture is not redacted. False with the reason in *error when a file cannot be made.
bool WriteCaptureFolder(const MachineCapture& capture, const std::string& manifest,
                        const std::filesystem::path& folder, std::string* error);

// The INI text of a list of facts, each "name=value" in its section, in the list's order.
std::string IniText(const std::vector<Fact>& facts, const std::string& comment);

}  // namespace capture

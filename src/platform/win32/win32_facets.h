// The Win32 facets, one per source file, assembled by MakeWin32Platform.
#pragma once

#include <memory>
#include <string>

#include "platform/platform.h"

namespace platform::win32 {

std::unique_ptr<Registry> MakeWin32Registry();
std::unique_ptr<Profile> MakeWin32Profile();
std::unique_ptr<Files> MakeWin32Files();
std::unique_ptr<Processes> MakeWin32Processes();
std::unique_ptr<Clock> MakeWin32Clock();
std::unique_ptr<Environment> MakeWin32Environment();
std::unique_ptr<Self> MakeWin32Self();
std::unique_ptr<Session> MakeWin32Session();
std::unique_ptr<System> MakeWin32System();
std::unique_ptr<Components> MakeWin32Components();
std::unique_ptr<Tasks> MakeWin32Tasks();
std::unique_ptr<Http> MakeWin32Http();
std::unique_ptr<Xml> MakeWin32Xml();
std::unique_ptr<Wmi> MakeWin32Wmi();
std::unique_ptr<Power> MakeWin32Power();

// The files facet's CreateProtectedDirectoryA (security_descriptor.cpp).
bool CreateProtectedDirectory(const char* path, FolderDacl dacl);

// The file version of a file's VERSIONINFO resource (win32_self.cpp); false without one.
bool ResourceVersion(const std::string& path, ProgramVersion* version);

}  // namespace platform::win32

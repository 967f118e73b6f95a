// The one place where the Windows headers enter the program. Only src/platform/win32/ includes
// this file; nothing above the platform seam sees a Windows declaration or macro.
#pragma once

// Windows 7 is the oldest system the program runs on: the headers must not offer anything newer.
// CMake defines the same values on the command line (hence the guards); without it, MinGW-w64's
// <_mingw.h>, reached through any standard header, has already chosen Windows 10, which is
// replaced here.
#if defined(_WIN32_WINNT) && _WIN32_WINNT != 0x0601
#undef _WIN32_WINNT
#endif
#ifndef _WIN32_WINNT
#define _WIN32_WINNT 0x0601
#endif
#if defined(WINVER) && WINVER != 0x0601
#undef WINVER
#endif
#ifndef WINVER
#define WINVER 0x0601
#endif
#ifndef WIN32_LEAN_AND_MEAN
#define WIN32_LEAN_AND_MEAN
#endif
#ifndef NOMINMAX
#define NOMINMAX
#endif

// The program calls the A functions by their own names; a UNICODE build would silently turn the
// few unsuffixed ones (Process32First, PROCESSENTRY32) into their wide forms.
#ifdef UNICODE
#error "the Win32 platform layer is built without UNICODE"
#endif

#include <windows.h>

// The further system headers need <windows.h> first, so they are kept here with it.
#include <aclapi.h>
#include <oleauto.h>
#include <psapi.h>
#include <sddl.h>
#include <shellapi.h>
#include <tlhelp32.h>
#include <userenv.h>
#include <winver.h>
#include <wtsapi32.h>

// The image-help library's MakeSureDirectoryPathExists, imported from imagehlp.dll (a KnownDLL;
// dbghelp.dll, which exports it too, is not). MinGW-w64 ships the import library but declares it
// in no header.
extern "C" __declspec(dllimport) BOOL WINAPI MakeSureDirectoryPathExists(PCSTR dirPath);

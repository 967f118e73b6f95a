// Plain Win32 data types and constants shared by every facet of the platform layer.
// They keep Windows' own names and values so that the code above the seam reads like the
// system calls it makes, without including any Windows header.
#pragma once

#include <cstdint>

#include "platform/error_codes.h"

namespace platform {

using DWORD = std::uint32_t;
using LONG = std::int32_t;
using BYTE = std::uint8_t;
using HKEY = std::uintptr_t;    // 0 is "no key"; predefined roots carry their Windows values
using HANDLE = std::uintptr_t;  // 0 is "no handle"

inline constexpr HKEY kHkeyLocalMachine = 0x80000002u;

// Registry value types.
inline constexpr DWORD kRegNone = 0;
inline constexpr DWORD kRegSz = 1;
inline constexpr DWORD kRegExpandSz = 2;
inline constexpr DWORD kRegBinary = 3;
inline constexpr DWORD kRegDword = 4;
inline constexpr DWORD kRegMultiSz = 7;
inline constexpr DWORD kRegQword = 11;

// Registry access masks.
inline constexpr DWORD kKeyQueryValue = 0x0001;
inline constexpr DWORD kKeySetValue = 0x0002;
inline constexpr DWORD kKeyEnumerateSubKeys = 0x0008;
inline constexpr DWORD kKeyRead = 0x20019;
inline constexpr DWORD kKeyAllAccess = 0xF003F;
inline constexpr DWORD kKeyWow64_64Key = 0x0100;
inline constexpr DWORD kKeyWow64_32Key = 0x0200;

// File attributes.
inline constexpr DWORD kInvalidFileAttributes = 0xFFFFFFFFu;
inline constexpr DWORD kFileAttributeReadonly = 0x01;
inline constexpr DWORD kFileAttributeHidden = 0x02;
inline constexpr DWORD kFileAttributeSystem = 0x04;
inline constexpr DWORD kFileAttributeDirectory = 0x10;
inline constexpr DWORD kFileAttributeArchive = 0x20;
inline constexpr DWORD kFileAttributeNormal = 0x80;
inline constexpr DWORD kFileAttributeReparsePoint = 0x400;

// Calendar date and time as SYSTEMTIME holds it (local or UTC, as the call says).
struct SystemTime {
    int year = 1601;
    int month = 1;
    int dayOfWeek = 0;
    int day = 1;
    int hour = 0;
    int minute = 0;
    int second = 0;
    int milliseconds = 0;
    friend bool operator==(const SystemTime&, const SystemTime&) = default;
};

}  // namespace platform

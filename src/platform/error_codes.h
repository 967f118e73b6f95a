// System error codes (winerror.h) as the facets report them and the program compares them:
// Windows' own names and values, held as LONG like the registry functions' results. The one
// list for every part of the program, the emulated host included.
#pragma once

#include <cstdint>

namespace platform {

inline constexpr std::int32_t kErrorSuccess = 0;
inline constexpr std::int32_t kErrorInvalidFunction = 1;
inline constexpr std::int32_t kErrorFileNotFound = 2;
inline constexpr std::int32_t kErrorPathNotFound = 3;
inline constexpr std::int32_t kErrorAccessDenied = 5;
inline constexpr std::int32_t kErrorInvalidHandle = 6;
inline constexpr std::int32_t kErrorNotEnoughMemory = 8;
inline constexpr std::int32_t kErrorUnhandledException = 574;  // an exception escaped a call
inline constexpr std::int32_t kErrorNoMoreFiles = 18;
inline constexpr std::int32_t kErrorSharingViolation = 32;
inline constexpr std::int32_t kErrorNotSupported = 50;
inline constexpr std::int32_t kErrorFileExists = 80;
inline constexpr std::int32_t kErrorInvalidParameter = 87;
inline constexpr std::int32_t kErrorCallNotImplemented = 120;
inline constexpr std::int32_t kErrorInsufficientBuffer = 122;
inline constexpr std::int32_t kErrorInvalidName = 123;
inline constexpr std::int32_t kErrorModNotFound = 126;
inline constexpr std::int32_t kErrorProcNotFound = 127;
inline constexpr std::int32_t kErrorDirNotEmpty = 145;
inline constexpr std::int32_t kErrorBadPathname = 161;
inline constexpr std::int32_t kErrorAlreadyExists = 183;
inline constexpr std::int32_t kErrorEnvvarNotFound = 203;
inline constexpr std::int32_t kErrorMoreData = 234;
inline constexpr std::int32_t kErrorNoMoreItems = 259;
inline constexpr std::int32_t kErrorDirectory = 267;      // the directory name is invalid
inline constexpr std::int32_t kErrorMrMidNotFound = 317;  // no message text for the number
inline constexpr std::int32_t kErrorNoToken = 1008;
inline constexpr std::int32_t kErrorServiceDisabled = 1058;
inline constexpr std::int32_t kErrorShutdownInProgress = 1115;
inline constexpr std::int32_t kErrorNoAssociation = 1155;
inline constexpr std::int32_t kErrorAccessDisabledByPolicy = 1260;
inline constexpr std::int32_t kErrorNotAllAssigned = 1300;
inline constexpr std::int32_t kErrorNoSuchPrivilege = 1313;
inline constexpr std::int32_t kErrorNoneMapped = 1332;  // no account of that name or SID
inline constexpr std::int32_t kErrorPrivilegeNotHeld = 1314;
inline constexpr std::int32_t kErrorTimeout = 1460;          // a call past its bound
inline constexpr std::int32_t kRpcServerUnavailable = 1722;  // RPC_S_SERVER_UNAVAILABLE
inline constexpr std::int32_t kErrorResourceTypeNotFound = 1813;
inline constexpr std::int32_t kErrorCantAccessFile = 1920;       // a link the call does not follow
inline constexpr std::int32_t kErrorCantResolveFilename = 1921;  // a link that leads nowhere
inline constexpr std::int32_t kErrorCtxWinstationNotFound = 7022;  // no such session

// A system error code as the HRESULT a COM call reports for it (facility 7, Win32).
constexpr std::int32_t HresultFromWin32(std::int32_t error) {
    return error <= 0 ? error
                      : static_cast<std::int32_t>((static_cast<std::uint32_t>(error) & 0xFFFFu) |
                                                  0x80070000u);
}

// What a call past its bound fails with: ERROR_TIMEOUT as an HRESULT (-2147023436).
inline constexpr std::int32_t kTimeoutHresult = HresultFromWin32(kErrorTimeout);

}  // namespace platform

// COM result codes (HRESULTs, signed 32-bit, held as LONG) as the facets that reach COM objects
// report them.
#pragma once

#include "platform/types.h"

namespace platform {

inline constexpr LONG kSOk = 0;
inline constexpr LONG kSFalse = 1;
inline constexpr LONG kEPointer = static_cast<LONG>(0x80004003u);
inline constexpr LONG kEFail = static_cast<LONG>(0x80004005u);
inline constexpr LONG kEInvalidArg = static_cast<LONG>(0x80070057u);
inline constexpr LONG kDispEUnknownName = static_cast<LONG>(0x80020006u);
inline constexpr LONG kDispEException = static_cast<LONG>(0x80020009u);
inline constexpr LONG kRegdbEClassNotReg = static_cast<LONG>(0x80040154u);
inline constexpr LONG kCoEClassString = static_cast<LONG>(0x800401F3u);

inline constexpr bool ComSucceeded(LONG hr) {
    return hr >= 0;
}

}  // namespace platform

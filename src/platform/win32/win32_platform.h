// The real Windows implementation of every facet.
#pragma once

#include <memory>

#include "platform/platform.h"

namespace platform::win32 {

std::unique_ptr<Platform> MakeWin32Platform();

}  // namespace platform::win32

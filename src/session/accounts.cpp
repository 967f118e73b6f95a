#include "session/accounts.h"

#include <algorithm>
#include <vector>

#include "common/failure.h"
#include "log/activity_log.h"

namespace session {

using activity_log::WriteLogLine;

std::string fncGetLoggedOnUserName(run::RunContext& ctx) {
    try {
        constexpr platform::DWORD kBufferSize = 100;
        std::vector<char> buffer(kBufferSize, '\0');
        platform::DWORD size = kBufferSize;
        ctx.platform.session().GetUserNameA(buffer.data(), &size);
        // A failed call leaves the buffer all NUL: the name is then empty.
        return std::string(buffer.begin(), std::find(buffer.begin(), buffer.end(), '\0'));
    } catch (const std::exception& e) {
        WriteLogLine(ctx, "ModComman", "fncGetLoggedOnUserName", "ERROR",
                     std::to_string(common::FailureNumber(e)), common::FailureDescription(e),
                     std::to_string(ctx.platform.system().GetLastError()));
        return {};
    }
}

}  // namespace session

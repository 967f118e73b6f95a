// The Win32 platform: every facet's real implementation, owned together for the run.
#include "platform/win32/win32_platform.h"

#include "platform/win32/win32_facets.h"

namespace platform::win32 {
namespace {

class Win32Platform final : public Platform {
public:
    RS_PLATFORM_FACETS(RS_PLATFORM_FACET_MEMBER)

private:
    std::unique_ptr<Registry> registry_ = MakeWin32Registry();
    std::unique_ptr<Profile> profile_ = MakeWin32Profile();
    std::unique_ptr<Files> files_ = MakeWin32Files();
    std::unique_ptr<Processes> processes_ = MakeWin32Processes();
    std::unique_ptr<Clock> clock_ = MakeWin32Clock();
    std::unique_ptr<Environment> environment_ = MakeWin32Environment();
    // Holds the instance mutex, once taken, until the platform is destroyed at the end of main.
    std::unique_ptr<Self> self_ = MakeWin32Self();
    std::unique_ptr<Session> session_ = MakeWin32Session();
    std::unique_ptr<System> system_ = MakeWin32System();
    std::unique_ptr<Components> components_ = MakeWin32Components();
    std::unique_ptr<Tasks> tasks_ = MakeWin32Tasks();
    std::unique_ptr<Http> http_ = MakeWin32Http();
    std::unique_ptr<Xml> xml_ = MakeWin32Xml();
    std::unique_ptr<Wmi> wmi_ = MakeWin32Wmi();
    std::unique_ptr<Power> power_ = MakeWin32Power();
};

}  // namespace

std::unique_ptr<Platform> MakeWin32Platform() {
    return std::make_unique<Win32Platform>();
}

}  // namespace platform::win32

#pragma once

#include "platform/emulated/machine.h"
#include "platform/profile.h"

namespace platform::emulated {

// The private-profile functions over files on the machine's drives, with the rules of the
// Windows implementation (ini_text.h; pinned by the profile contract suite). A file is read
// whole on every call; a write replaces it through a temporary file in the same folder, so that
// an interrupted write leaves the old file or the new one, never a part of either. The
// read-only attribute (the owner's write permission) is checked here, since the host may run
// as root.
class EmulatedProfile final : public Profile {
public:
    explicit EmulatedProfile(Machine& machine) : machine_(machine) {}

    DWORD GetPrivateProfileStringA(const char* section, const char* key, const char* defaultValue,
                                   char* buffer, DWORD size, const char* fileName) override;
    bool WritePrivateProfileStringA(const char* section, const char* key, const char* value,
                                    const char* fileName) override;

private:
    Machine& machine_;
};

}  // namespace platform::emulated

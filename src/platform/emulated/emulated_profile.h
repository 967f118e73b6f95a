#pragma once

#include "platform/emulated/machine.h"
#include "platform/profile.h"

namespace platform::emulated {

// The private-profile functions over files on the machine's drives, with the rules of the
// Windows implementation (see the profile contract suite).
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

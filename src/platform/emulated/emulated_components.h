#pragma once

#include "platform/components.h"
#include "platform/emulated/machine.h"

namespace platform::emulated {

// The agent's components as the emulated host binds them: the cipher library is a shared object
// kept at the library's Windows path on the machine's drive (a file named Cryptel.dll that holds
// a host library), loaded and called like the real one.
class EmulatedComponents final : public Components {
public:
    explicit EmulatedComponents(Machine& machine) : machine_(machine) {}

    bool CallCipher(const char* libraryPath, const char* exportName, char* buffer,
                    std::int32_t length) override;

private:
    Machine& machine_;
};

}  // namespace platform::emulated

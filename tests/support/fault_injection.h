// Fault injection: a decorator over every facet that makes the N-th platform call of a run fail
// the way the real call fails (its result code, or false / an empty answer with the last error
// set), so that each trap of the program can be driven without touching Windows. It also records
// the name of every call, which the fault sweeps use to know what a normal run does.
#pragma once

#include <memory>
#include <string>
#include <vector>

#include "platform/platform.h"

namespace platform {

struct FaultPlan {
    long failAt = 0;  // 1-based number of the call to fail; 0 fails nothing
    // Or the failOccurrence-th call (1-based) of the operation failOperation: a call that keeps
    // its identity when a run makes a call more or fewer elsewhere (a started program that has
    // or has not ended by the time its exit code is asked for).
    std::string failOperation;
    long failOccurrence = 0;
    // 1-based number of the call before which the process ends at once with exit code
    // kStoppedExitCode, as a power loss or a killed process would leave things; 0 stops nowhere.
    long stopAt = 0;
    static constexpr int kStoppedExitCode = 86;
    DWORD code = kErrorAccessDenied;
    long calls = 0;
    long occurrences = 0;            // calls of failOperation so far
    std::vector<std::string> trace;  // every call made, in order ("Registry.RegOpenKeyA", ...)

    // Counts the call and tells whether it is the one to fail.
    bool ShouldFail(std::string operation);
};

class FaultInjectingPlatform final : public Platform {
public:
    FaultInjectingPlatform(Platform& inner, FaultPlan& plan);
    ~FaultInjectingPlatform() override;

#define RS_FAULTY_FACET_ACCESSOR(Facet, name) Facet& name() override;
    RS_PLATFORM_FACETS(RS_FAULTY_FACET_ACCESSOR)
#undef RS_FAULTY_FACET_ACCESSOR

private:
    struct Facets;
    std::unique_ptr<Facets> facets_;
};

}  // namespace platform

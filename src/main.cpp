// Builds the platform, runs the program once and turns the end of the run into an exit code.
#include <cstdio>
#include <exception>
#include <memory>

#include "flow/main_flow.h"
#include "platform/host_platform.h"
#include "run/end_of_run.h"
#include "run/run_context.h"

namespace {

constexpr int kMachineUnusable = 64;  // emulated host only: no usable machine folder
constexpr int kInternalError = 70;    // a failure no trap caught; never expected

}  // namespace

int main(int argc, char** argv) {
    const std::unique_ptr<platform::Platform> host = platform::MakeHostPlatform(argc, argv);
    if (!host) return kMachineUnusable;
    int exitCode = kInternalError;
    try {
        run::RunContext ctx(*host);
        run::Main(ctx);
    } catch (const run::EndOfRun& end) {
        exitCode = end.exitCode();
    } catch (const std::exception& e) {
        std::fprintf(stderr, "RebootScheduler: %s\n", e.what());
    }
    host->processes().ExitProcess(static_cast<unsigned>(exitCode));
    return exitCode;
}

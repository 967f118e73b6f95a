// Builds the platform, runs the program once and turns the end of the run into an exit code.
#include <cstdio>
#include <cstdlib>
#include <exception>
#include <filesystem>
#include <memory>
#include <string>

#include "run/end_of_run.h"
#include "run/main_flow.h"
#include "run/run_context.h"

#ifdef _WIN32
#include "platform/win32/win32_platform.h"
#else
#include "platform/emulated/emulated_platform.h"
#endif

namespace {

constexpr int kMachineUnusable = 64;  // emulated host only: no usable machine folder
constexpr int kInternalError = 70;    // a failure no trap caught; never expected

#ifndef _WIN32
// The command line as Windows would hand it over: the arguments joined by spaces, each with
// spaces inside it quoted.
std::string ArgumentText(int argc, char** argv) {
    std::string text;
    for (int i = 1; i < argc; ++i) {
        const std::string arg = argv[i];
        if (!text.empty()) text += ' ';
        text += arg.find(' ') != std::string::npos ? "\"" + arg + "\"" : arg;
    }
    return text;
}
#endif

}  // namespace

int main(int argc, char** argv) {
    std::unique_ptr<platform::Platform> host;
#ifdef _WIN32
    (void)argc;
    (void)argv;
    host = platform::win32::MakeWin32Platform();
#else
    const char* machine = std::getenv("REBOOTSCHEDULER_MACHINE");
    if (!machine || !*machine) {
        std::fprintf(
            stderr,
            "RebootScheduler: set REBOOTSCHEDULER_MACHINE to the machine folder to run on\n");
        return kMachineUnusable;
    }
    try {
        host = platform::emulated::MakeEmulatedPlatform(
            machine, ArgumentText(argc, argv), std::filesystem::path(argv[0]).stem().string());
    } catch (const std::exception& e) {
        std::fprintf(stderr, "RebootScheduler: machine folder %s: %s\n", machine, e.what());
        return kMachineUnusable;
    }
#endif
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

// The host of a build for another system: the emulated Windows host over the machine folder
// named by REBOOTSCHEDULER_MACHINE.
#include "platform/host_platform.h"

#include <cstdio>
#include <cstdlib>
#include <exception>
#include <filesystem>
#include <string>

#if defined(__GLIBC__)
#include <malloc.h>
#endif

#include "platform/emulated/emulated_platform.h"

namespace platform {

namespace {

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

}  // namespace

std::unique_ptr<Platform> MakeHostPlatform(int argc, char** argv) {
#if defined(__GLIBC__)
    // A large folder is listed into blocks of many megabytes. The C library would map each such
    // block afresh and give it back when freed, so that every growth of a listing faults its
    // pages in again (10,000 faults for 100,000 files); a run is short, and its heap keeps what
    // it frees for the next block instead.
    mallopt(M_MMAP_THRESHOLD, 256 << 20);
    mallopt(M_TRIM_THRESHOLD, 256 << 20);
#endif
    const char* machine = std::getenv("REBOOTSCHEDULER_MACHINE");
    if (!machine || !*machine) {
        std::fprintf(
            stderr,
            "RebootScheduler: set REBOOTSCHEDULER_MACHINE to the machine folder to run on\n");
        return nullptr;
    }
    try {
        return emulated::MakeEmulatedPlatform(machine, ArgumentText(argc, argv),
                                              std::filesystem::path(argv[0]).stem().string());
    } catch (const std::exception& e) {
        std::fprintf(stderr, "RebootScheduler: machine folder %s: %s\n", machine, e.what());
        return nullptr;
    }
}

bool FilesNameTheComputer() {
    return false;
}

}  // namespace platform

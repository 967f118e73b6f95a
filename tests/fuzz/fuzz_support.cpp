#include "fuzz_support.h"

#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <memory>

#include "platform/emulated/emulated_platform.h"

namespace fuzzing {
namespace fs = std::filesystem;

namespace {

struct World {
    fs::path folder;
    std::unique_ptr<platform::Platform> host;
    std::unique_ptr<run::RunContext> ctx;
    World() {
        folder = fs::temp_directory_path() / ("rs-fuzz-" + std::to_string(::getpid()));
        fs::create_directories(folder / "registry");
        fs::create_directories(folder / "drives" / "c" / "Agent");
        host = platform::emulated::MakeEmulatedPlatform(folder, "");
        ctx = std::make_unique<run::RunContext>(*host);
        ctx->logFilePath = "C:\\Agent\\fuzz.log";
        ctx->installPath = "C:\\Agent\\";
    }
    ~World() {
        ctx.reset();
        host.reset();
        std::error_code error;
        fs::remove_all(folder, error);
    }
};

World& TheWorld() {
    static World world;
    return world;
}

}  // namespace

const fs::path& MachineFolder() {
    return TheWorld().folder;
}
platform::Platform& Host() {
    return *TheWorld().host;
}
run::RunContext& Context() {
    return *TheWorld().ctx;
}

void KeepLogSmall() {
    static unsigned calls = 0;
    if (++calls % 1024 != 0) return;
    std::error_code error;
    fs::remove(MachineFolder() / "drives" / "c" / "Agent" / "fuzz.log", error);
}

void Fail(const std::string& what, const std::string& detail) {
    std::fprintf(stderr, "PROPERTY BROKEN: %s\n%s\n", what.c_str(), detail.c_str());
    std::abort();
}

}  // namespace fuzzing

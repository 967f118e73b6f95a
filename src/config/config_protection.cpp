#include "config/config_protection.h"

#include <limits>

#include "common/failure.h"
#include "ending/guard.h"
#include "log/activity_log.h"
#include "run/failures.h"

namespace config {

using activity_log::WriteLogLine;

namespace {

constexpr long kDllNotFound = 53;    // the runtime's "File not found: <library>"
constexpr long kNoEntryPoint = 453;  // "Can't find DLL entry point"
constexpr auto kFileNotFound = static_cast<platform::DWORD>(platform::kErrorFileNotFound);
constexpr auto kPathNotFound = static_cast<platform::DWORD>(platform::kErrorPathNotFound);

}  // namespace

std::string EncDecXML(run::RunContext& ctx, bool encipher, const std::string& path) {
    try {
        std::string content = ctx.fileSystem.ReadAllText(path);
        if (content.size() > static_cast<std::size_t>(std::numeric_limits<std::int32_t>::max())) {
            common::Raise(common::kInvalidCall);
        }
        const char* function = encipher ? "EncryptData" : "DecryptData";
        const std::string library = ctx.installPath + kCipherLibrary;
        // Loaded into the system account's process: a library another account could change is
        // not loaded, and the run goes on as when it is missing (a missing one fails to load).
        // Held from the check until the call has loaded (and freed) it.
        run::FileSystem::HeldFile hold(ctx.platform.processes());
        const auto exposure = ctx.fileSystem.ExposedToOtherAccounts(library, &hold);
        const bool missing = exposure && exposure->path == library &&
                             (exposure->error == kFileNotFound || exposure->error == kPathNotFound);
        if (exposure && !missing) {
            WriteLogLine(ctx, "ModComman", "EncDecXML", "ERROR",
                         "Library not loaded as SYSTEM, it or its folder is not protected",
                         exposure->path, exposure->why, exposure->detail);
            throw common::Failure(kDllNotFound, std::string("File not found: ") + kCipherLibrary);
        }
        if (!ctx.platform.components().CallCipher(library.c_str(), function, content.data(),
                                                  static_cast<std::int32_t>(content.size()),
                                                  platform::kCipherCallMs)) {
            const platform::DWORD error = ctx.platform.system().GetLastError();
            if (error == static_cast<platform::DWORD>(platform::kErrorTimeout)) {
                throw run::SystemFailure(ctx);
            }
            if (error == static_cast<platform::DWORD>(platform::kErrorProcNotFound)) {
                throw common::Failure(kNoEntryPoint, std::string("Can't find DLL entry point ") +
                                                         function + " in " + kCipherLibrary);
            }
            throw common::Failure(kDllNotFound, std::string("File not found: ") + kCipherLibrary);
        }
        WriteLogLine(ctx, "ModComman", "EncDecXML", "INFO",
                     encipher ? "File encrypted successfully." : "File decrypted successfully.");
        return content;
    } catch (const std::exception& e) {
        const run::Trapped failure = run::Trap(ctx, e);
        WriteLogLine(ctx, "ModComman", "EncDecXML", "ERROR", failure.number, failure.description,
                     failure.lastError);
        run::CloseAll(ctx);
    }
}

}  // namespace config

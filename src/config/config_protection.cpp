#include "config/config_protection.h"

#include <limits>

#include "common/failure.h"
#include "log/activity_log.h"
#include "run/failures.h"
#include "run/guard.h"

namespace config {

using activity_log::WriteLogLine;

namespace {

constexpr long kDllNotFound = 53;    // the runtime's "File not found: <library>"
constexpr long kNoEntryPoint = 453;  // "Can't find DLL entry point"

}  // namespace

std::string EncDecXML(run::RunContext& ctx, bool encipher, const std::string& path) {
    try {
        std::string content = ctx.fileSystem.ReadAllText(path);
        if (content.size() > static_cast<std::size_t>(std::numeric_limits<std::int32_t>::max())) {
            common::Raise(common::kInvalidCall);
        }
        const char* function = encipher ? "EncryptData" : "DecryptData";
        const std::string library = ctx.installPath + kCipherLibrary;
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

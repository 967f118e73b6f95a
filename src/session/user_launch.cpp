#include "session/user_launch.h"

#include <vector>

#include "common/failure.h"
#include "log/activity_log.h"
#include "platform/handle_owner.h"
#include "run/failures.h"
#include "session/accounts.h"

namespace session {

using activity_log::WriteLogLine;

namespace {

constexpr const char* kForm = "modUserAcc";
constexpr const char* kProcedure = "fncExecuteInUserAccount";
constexpr platform::DWORD kGenericAll = 0x10000000;
constexpr platform::DWORD kProcessAllAccess = 0x1F0FFF;
constexpr platform::DWORD kTokenAllAccess = 0xF00FF;
constexpr platform::DWORD kPromptWaitMilliseconds = 1800000;
// A prompt program still running after its wait is ended with ERROR_TIMEOUT as its exit code,
// and given this long to be gone before its answer file is read.
constexpr unsigned kOutlivedPromptExitCode = 1460;
constexpr platform::DWORD kEndedPromptWaitMilliseconds = 5000;
constexpr const char* kDesktop = "winsta0\\default";

void Log(run::RunContext& ctx, const char* type, const std::string& message) {
    WriteLogLine(ctx, kForm, kProcedure, type, message);
}

// The creation with the user's token, with the environment block when there is one. The program
// is created out of the agent's job first (so that it reaches another session, and closing the
// job does not end it); a job that refuses breakaway (ERROR_ACCESS_DENIED) gets a second creation
// without it. The process and thread handles it returns are not used: they are closed at once.
// The process is reopened by its id; 0 when the creation failed. onFailure is the level of the
// first failure line; the second carries the system's error number. An impersonation in force
// ends right after the creation, so that the log is written as the program's own account.
platform::HANDLE CreateForUser(run::RunContext& ctx, platform::HANDLE token,
                               const std::string& exePath, const std::string& arguments,
                               const std::string& workingFolder,
                               platform::EnvironmentBlock environment, const char* onFailure,
                               platform::Impersonation* impersonation = nullptr) {
    auto& processes = ctx.platform.processes();
    platform::StartupInfo startup;
    startup.lpDesktop = kDesktop;
    const platform::DWORD flags =
        environment ? platform::kCreateNoWindow | platform::kCreateUnicodeEnvironment
                    : platform::kCreateNoWindow;
    platform::ProcessInformation created;
    auto create = [&](platform::DWORD creationFlags) {
        created = platform::ProcessInformation{};
        return ctx.platform.session().CreateProcessAsUserA(
            token, exePath.c_str(), arguments.c_str(), false, creationFlags, environment,
            workingFolder.c_str(), startup, &created);
    };
    bool ok = create(flags | platform::kCreateBreakawayFromJob);
    platform::DWORD error = ok ? 0 : ctx.platform.system().GetLastError();
    if (!ok && error == static_cast<platform::DWORD>(platform::kErrorAccessDenied)) {
        ok = create(flags);
        error = ok ? 0 : ctx.platform.system().GetLastError();
    }
    if (impersonation) impersonation->End();
    platform::OwnedHandle createdProcess(processes, created.hProcess);
    platform::OwnedHandle createdThread(processes, created.hThread);
    if (!ok) {
        Log(ctx, onFailure, "Failed to execute in the user mode, ");
        WriteLogLine(ctx, kForm, kProcedure, "INFO", ".CreateProcessAsUser() failed with error",
                     std::to_string(error));
        return 0;
    }
    Log(ctx, "INFO", "Successfully Started the process");
    const platform::HANDLE reopened =
        processes.OpenProcess(kProcessAllAccess, true, created.dwProcessId);
    // Without a second handle the creation's own one serves for the wait: the prompt's answer
    // must not be read while the prompt may still be writing it.
    return reopened ? reopened : createdProcess.release();
}

// While the started program runs, waits up to the prompt's limit for it; a program still running
// then is ended (the handle carries PROCESS_TERMINATE), or else it would stay on the user's
// screen with an answer nobody reads, and the next run would start another. The handle is
// closed in every case.
void WaitForPrompt(run::RunContext& ctx, platform::HANDLE reopened) {
    auto& processes = ctx.platform.processes();
    platform::OwnedHandle process(processes, reopened);
    platform::DWORD exitCode = 0;
    // A started program whose exit code cannot be read is waited for as a running one.
    if (!processes.GetExitCodeProcess(process.get(), &exitCode) && process.get())
        exitCode = platform::kStillActive;
    if (exitCode != platform::kStillActive) return;
    if (processes.WaitForSingleObject(process.get(), kPromptWaitMilliseconds) ==
        platform::kWaitTimeout) {
        if (processes.TerminateProcess(process.get(), kOutlivedPromptExitCode)) {
            Log(ctx, "INFO", "Bellhop.exe still running after the wait, ended");
            processes.WaitForSingleObject(process.get(), kEndedPromptWaitMilliseconds);
        } else {
            const platform::DWORD error = ctx.platform.system().GetLastError();
            WriteLogLine(ctx, kForm, kProcedure, "ERROR",
                         "Bellhop.exe still running after the wait, not ended",
                         std::to_string(error), run::SystemMessage(ctx, error));
        }
    }
    // Asked by the handle's number, which names no program: this ends no process.
    fncTerminateProcessByName(ctx, std::to_string(process.get()));
}

// The account of the token the prompt program is started with: whose answer may decide.
std::string TokenUser(run::RunContext& ctx, platform::HANDLE token) {
    std::string user;
    if (!ctx.platform.session().GetTokenUserName(token, &user)) user.clear();
    return user;
}

}  // namespace

std::string fncFormatMessage(run::RunContext& ctx, std::int32_t errorNumber) {
    try {
        // The text without its closing CR LF, from a buffer of 200 characters.
        const std::string text =
            run::SystemMessage(ctx, static_cast<platform::DWORD>(errorNumber), 200);
        if (text.empty()) return std::to_string(errorNumber);
        return std::to_string(errorNumber) + "-" + text;
    } catch (const std::exception& e) {
        const run::Trapped failure = run::Trap(ctx, e);
        WriteLogLine(ctx, "ModComman", "fncFormatMessage", "ERR",
                     " ErrDesc : " + failure.number + " " + failure.description);
        return std::to_string(errorNumber);
    }
}

bool fncExecuteInUserAccount(run::RunContext& ctx, const std::string& exePath,
                             const std::string& arguments) {
    auto& session = ctx.platform.session();
    auto& processes = ctx.platform.processes();
    auto& system = ctx.platform.system();
    bool result = false;
    // Every token and handle this procedure obtains is released by these owners, on the trapped
    // path too; the normal paths release each where the procedure is done with it.
    platform::OwnedHandle userToken(processes);
    platform::OwnedHandle primaryToken(processes);
    platform::OwnedHandle shellProcess(processes);
    platform::OwnedHandle shellToken(processes);
    platform::OwnedEnvironmentBlock environment(session);
    platform::Impersonation impersonation(session);
    try {
        const auto slash = exePath.rfind('\\');
        if (slash == std::string::npos) common::Raise(common::kInvalidCall);
        const std::string workingFolder = exePath.substr(0, slash);
        Log(ctx, "INFO ", "Run Bellhop.exe in User Account");

        const platform::DWORD sessionId = session.WTSGetActiveConsoleSessionId();
        // Cleared first: a successful query leaves the last error as it found it (183 from the
        // log file's opening on Windows), which must not read as the query's failure.
        system.SetLastError(0);
        session.WTSQueryUserToken(sessionId, userToken.put());  // the token stays 0 on failure
        const platform::DWORD queryError = system.GetLastError();
        Log(ctx, "INFO",
            "lngSessID :" + std::to_string(static_cast<std::int32_t>(sessionId)) +
                "--- hToken : " + std::to_string(userToken.get()));
        if (queryError != 0) {
            Log(ctx, "ERR",
                "Last error : " + std::to_string(queryError) + " - " +
                    fncFormatMessage(ctx, static_cast<std::int32_t>(queryError)));
        }

        if (userToken.get()) {
            ctx.promptAccount = TokenUser(ctx, userToken.get());
            session.DuplicateTokenEx(userToken.get(), kGenericAll, false,
                                     platform::kSecurityImpersonation, platform::kTokenPrimary,
                                     primaryToken.put());
            Log(ctx, "INFO ", "found DupedToken : " + std::to_string(primaryToken.get()));
            Log(ctx, "INFO ", "Getting the environment variables");
            const bool made =
                session.CreateEnvironmentBlock(environment.put(), primaryToken.get(), true);
            if (made) {
                Log(ctx, "INFO ", "Environment Created Value : 1");
            } else {
                Log(ctx, "INFO ",
                    "Failed to get the environmental variables, " +
                        std::to_string(system.GetLastError()) + " ErrDesc ");
                Log(ctx, "INFO ", "Calling without environmental variables");
            }
            WaitForPrompt(ctx, CreateForUser(ctx, primaryToken.get(), exePath, arguments,
                                             workingFolder, made ? environment.get() : 0, "ERROR"));
            result = true;
            impersonation.End();
            primaryToken.reset();
            userToken.reset();
            return result;
        }

        const platform::DWORD shellId = GetCurrentUserToken(ctx);
        if (shellId == 0) return false;
        shellProcess.reset(processes.OpenProcess(kProcessAllAccess, true, shellId));
        if (!shellProcess.get()) {
            Log(ctx, "INFO", "No Logged in User found");
            result = false;
        } else {
            Log(ctx, "INFO", "Explorer token found!!");
            session.OpenProcessToken(shellProcess.get(), kTokenAllAccess, shellToken.put());
            if (shellToken.get()) {
                ctx.promptAccount = TokenUser(ctx, shellToken.get());
                impersonation.Begin(shellToken.get());
                const bool made =
                    session.CreateEnvironmentBlock(environment.put(), shellToken.get(), true);
                WaitForPrompt(
                    ctx, CreateForUser(ctx, shellToken.get(), exePath, arguments, workingFolder,
                                       made ? environment.get() : 0, "INFO", &impersonation));
            }
            result = true;
        }
        impersonation.End();
        shellToken.reset();
        shellProcess.reset();
        return result;
    } catch (const std::exception& e) {
        const run::Trapped failure = run::Trap(ctx, e);
        WriteLogLine(ctx, kForm, kProcedure, "ERRROR", failure.number, failure.description,
                     failure.lastError);
        return result;
    }
}

}  // namespace session

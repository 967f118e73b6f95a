#include "flow/main_flow.h"

#include "common/text.h"
#include "ending/guard.h"
#include "flow/startup.h"
#include "log/activity_log.h"
#include "platform/self.h"
#include "reboot/assessment.h"
#include "reboot/prompt_flow.h"
#include "run/end_of_run.h"
#include "win10/suppression.h"

namespace run {

using activity_log::WriteLogLine;

namespace {

constexpr const char* kAcceptedWords = "RBT,RBTASSESS";

void Info(RunContext& ctx, const std::string& message) {
    WriteLogLine(ctx, "modMain", "Main", "INFO", message);
}

}  // namespace

std::string CleanCommandArg(const std::string& argumentText) {
    return common::Trim(common::RemoveAll(argumentText, '"'));
}

bool IsAcceptedArgument(const std::string& commandArg) {
    return common::Contains(kAcceptedWords, common::Upper(common::Trim(commandArg)));
}

void Main(RunContext& ctx) {
    auto& platform = ctx.platform;
    const platform::InstanceTest instance = platform.self().PreviousInstanceRunning();
    if (instance.earlierInstance) EndProcess(RunEnd::PreviousInstance);
    // Once, before the first COM call (WMI, the Task Scheduler, the agent's components), so that
    // their proxies impersonate as the queries need instead of taking the machine's default. A
    // refusal leaves the default in force and the run goes on.
    platform.system().InitializeComSecurity();

    activity_log::InitLogFile(ctx);
    // Told now that the log is open: an object another account made under the instance mutex's
    // name is no instance, and holds no run back.
    if (!instance.foreignObject.empty()) {
        WriteLogLine(ctx, "modMain", "Main", "ERROR",
                     "Instance mutex name taken by another account", platform::kInstanceMutexName,
                     instance.foreignObject);
    }
    if (AlreadyRunning(ctx)) EndProcess(RunEnd::AnotherCopyRunning);

    ctx.commandArg = CleanCommandArg(platform.self().ArgumentText());
    if (!IsAcceptedArgument(ctx.commandArg)) {
        Info(ctx, "Invalid Parameter");
        CloseAll(ctx);
    }

    Info(ctx, "*****************************************");
    Info(ctx, activity_log::VersionText(platform));
    Info(ctx, "START");
    InitializeEXE(ctx);

    const std::string mode = common::Upper(ctx.commandArg);
    if (mode == "RBT") {
        win10::Windows10Step(ctx);
        reboot::CallRebootUI(ctx);
        CloseAll(ctx);
    } else if (mode == "RBTASSESS") {
        reboot::CallRBTAssess(ctx);
        CloseAll(ctx);
    }
    CloseAll(ctx);
}

}  // namespace run

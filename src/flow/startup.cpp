#include "flow/startup.h"

#include "common/dates.h"
#include "common/failure.h"
#include "common/text.h"
#include "config/config_protection.h"
#include "log/activity_log.h"
#include "reboot/prompt_files.h"
#include "reboot/reboot_state.h"
#include "registry/os_facts.h"
#include "registry/registry_access.h"
#include "run/end_of_run.h"
#include "run/failures.h"
#include "session/accounts.h"

namespace run {

using activity_log::WriteLogLine;

namespace {

void Info(RunContext& ctx, const std::string& message, const std::string& val2 = {}) {
    WriteLogLine(ctx, "modCommon", "InitializeEXE", "INFO", message, val2);
}

std::string AgentValue(RunContext& ctx, const char* name) {
    return common::Trim(registry::GetString(ctx, platform::kHkeyLocalMachine, ctx.agentKey, name));
}

}  // namespace

std::string DataFolderFor(const std::string& allUsersProfile, const std::string& installPath) {
    std::string folder = allUsersProfile;
    if (!common::EndsWith(folder, "\\")) folder += '\\';
    const std::string upper = common::Upper(folder);
    if (common::Contains(upper, "PROGRAMDATA")) return folder + "VERUZE\\";
    if (common::Contains(upper, "ALL USERS")) return folder + "Application Data\\VERUZE\\";
    return installPath;
}

void InitializeEXE(RunContext& ctx) {
    auto& platform = ctx.platform;
    try {
        ctx.agentKey = activity_log::kAgentKey;
        ctx.installPath = AgentValue(ctx, "InstallationPath");
        if (!common::EndsWith(ctx.installPath, "\\")) ctx.installPath += '\\';
        ctx.regId = AgentValue(ctx, "regID");
        ctx.siteId = AgentValue(ctx, "SiteID");
        ctx.memberId = AgentValue(ctx, "MemberID");
        ctx.agentType = AgentValue(ctx, "Type");

        ctx.schPatchIniPath = ctx.installPath + "BaseComponents\\PatchManagement\\SchPatch.ini";
        ctx.win10OptIn = reboot::IniGetValueEx(ctx, "SchTime", "Win10Optin", ctx.schPatchIniPath);

        ctx.wpConfigPath = ctx.installPath + "Configuration\\wpConfig.xml";
        ctx.wpConfigXml = config::EncDecXML(ctx, false, ctx.wpConfigPath);

        std::string allUsersProfile;
        platform.environment().GetEnvironmentVariableA("ALLUSERSPROFILE", &allUsersProfile);
        ctx.osProductName = registry::ReadOSInfo(ctx, "ProductName");
        ctx.dataFolder = DataFolderFor(allUsersProfile, ctx.installPath);
        platform.files().MakeSureDirectoryPathExists(ctx.dataFolder.c_str());  // failure ignored

        // Before the prompt runs, the console user is the one it would ask.
        ctx.promptAccount = session::ConsoleUserName(ctx);
        ctx.latestPromptFile = reboot::ReadLatestBellhopFile(ctx, ctx.dataFolder, "Bellhop_");
        reboot::IniSetValue(ctx, "RebootStatus", "TimerPM", "", ctx.rebootIniPath);
        Info(ctx, "Read File Patch", ctx.latestPromptFile);
        Info(ctx, "Write File Patch", ctx.rebootIniPath);

        // One reading of the clock for all six numbers, so that the text cannot mix two seconds.
        ctx.runStartTime = common::MdyHmsText(platform.clock().GetLocalTime());

        if (ctx.regId.empty() || ctx.siteId.empty() || ctx.memberId.empty() ||
            ctx.agentType.empty() || !ctx.fileSystem.FolderExists(common::Trim(ctx.installPath))) {
            Info(ctx, "Agent not Configured properly");
            Info(ctx, "END");
            EndProcess(RunEnd::AgentNotConfigured);
        }
    } catch (const std::exception& e) {
        const run::Trapped failure = run::Trap(ctx, e);
        WriteLogLine(ctx, "modCommon", "InitializeEXE", "EREOR", "Exe unable to execute ",
                     failure.number, failure.description);
    }
}

}  // namespace run

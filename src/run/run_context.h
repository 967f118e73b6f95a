// The values of one run, filled at start-up and read by every module. Field names are the
// program's own; all are empty (or 0, or false) when a run starts.
#pragma once

#include <cstdint>
#include <map>
#include <optional>
#include <set>
#include <string>

#include "platform/platform.h"
#include "run/file_system.h"

namespace run {

struct RunContext {
    explicit RunContext(platform::Platform& p) : platform(p), fileSystem(p) {}

    platform::Platform& platform;
    FileSystem fileSystem;

    // Entry and activity log.
    std::string commandArg;
    std::string logFilePath;

    // Start-up configuration.
    std::string agentKey;
    std::string installPath;
    std::string regId;
    std::string siteId;
    std::string memberId;
    std::string agentType;
    std::string schPatchIniPath;
    std::string win10OptIn;
    std::string wpConfigPath;
    std::string wpConfigXml;
    std::string dataFolder;
    std::string osProductName;
    std::string runStartTime;
    bool regValueChanged = false;

    // Prompt result files and the reboot state record (INI texts).
    std::string latestPromptFile;
    std::string rebootIniPath;
    std::string pendingWpm;
    std::string wpmRbtRequiredOn;
    std::string pendingWtpm;
    std::string wtpmRbtRequiredOn;
    std::string patchAssessRbt;
    std::string postponeAttempt;
    std::string pendingFlag;
    double postponeDateTime = 0;
    // The account the prompt program runs for: the console user at start-up and for the launch in
    // the user's session (the token's user), the program's own account when the prompt ran in
    // the system account. Only its result file, and the reboot state file, may decide a restart.
    std::string promptAccount;
    // SIDs of accounts looked up by name (upper case), each once a run; empty when the name
    // could not be looked up.
    std::map<std::string, platform::Sid> accountSids;
    // Paths under the data folder found to be reparse points no administrator made (upper
    // case): nothing is written through them, and the refusal is logged once a path.
    std::set<std::string> refusedReparsePoints;

    // The restart-loop guard: the reboot-required flag as this run read it, and the
    // "RestartGuard" section of the reboot state file as this run left it.
    bool rebootFlagRead = false;
    bool rebootFlagSet = false;
    struct RestartGuard {
        bool present = false;
        int requests = 0;
        int survived = 0;
        std::string firstRequest;
        std::string lastRequest;
        bool holds = false;  // no restart is asked for now
    } restartGuard;

    // System up-time.
    std::int32_t upTimeSeconds = 0;
    bool upTimeKnown = false;  // a method answered in this run
    // When this run started the patch program, if it did.
    std::optional<platform::SystemTime> assessmentStartedAt;

    // Windows 10 records.
    std::string errorLogJson;
    std::string auditJson;
    std::string auditPostBody;

    // Web configuration and web posts.
    std::string webPostPrimaryURL;
    std::string webPostSecondaryURL;
    std::string webPostEncryptFlag;
    std::string webPostPage;
    std::string webPostTagName;
    std::string postPrimaryURL;
    std::string postSecondaryURL;
    std::string postReturnValue;
    std::string postDetail1;
    std::string postDetail2;
    std::string postDetail3;
    std::string postXmlBody;
};

}  // namespace run

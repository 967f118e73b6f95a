#include "fault_injection.h"

#include <cstdlib>

namespace platform {

bool FaultPlan::ShouldFail(const char* operation) {
    ++calls;
    trace.emplace_back(operation);
    if (calls == stopAt) std::_Exit(kStoppedExitCode);
    return calls == failAt;
}

namespace {

// Shared by the facet decorators: the plan, and the inner System on which a failing call leaves
// its last-error value.
struct Injector {
    FaultPlan& plan;
    System& innerSystem;

    bool Fail(const char* operation) {
        if (!plan.ShouldFail(operation)) return false;
        innerSystem.SetLastError(plan.code);
        return true;
    }
    LONG Code() const { return static_cast<LONG>(plan.code); }
};

class FaultyRegistry final : public Registry {
public:
    FaultyRegistry(Registry& inner, Injector& injector) : inner_(inner), in_(injector) {}
    LONG RegOpenKeyA(HKEY root, const char* subKey, HKEY* result) override {
        if (in_.Fail("Registry.RegOpenKeyA")) {
            if (result) *result = 0;
            return in_.Code();
        }
        return inner_.RegOpenKeyA(root, subKey, result);
    }
    LONG RegOpenKeyExA(HKEY root, const char* subKey, DWORD options, DWORD access,
                       HKEY* result) override {
        if (in_.Fail("Registry.RegOpenKeyExA")) {
            if (result) *result = 0;
            return in_.Code();
        }
        return inner_.RegOpenKeyExA(root, subKey, options, access, result);
    }
    LONG RegQueryValueExA(HKEY key, const char* name, DWORD* type, BYTE* data,
                          DWORD* size) override {
        if (in_.Fail("Registry.RegQueryValueExA")) return in_.Code();
        return inner_.RegQueryValueExA(key, name, type, data, size);
    }
    LONG RegSetValueExA(HKEY key, const char* name, DWORD type, const BYTE* data,
                        DWORD size) override {
        if (in_.Fail("Registry.RegSetValueExA")) return in_.Code();
        return inner_.RegSetValueExA(key, name, type, data, size);
    }
    LONG RegCloseKey(HKEY key) override {
        // The key is closed either way, so that a failed close leaks nothing in the emulation.
        const LONG result = inner_.RegCloseKey(key);
        if (in_.Fail("Registry.RegCloseKey")) return in_.Code();
        return result;
    }

private:
    Registry& inner_;
    Injector& in_;
};

class FaultyProfile final : public Profile {
public:
    FaultyProfile(Profile& inner, Injector& injector) : inner_(inner), in_(injector) {}
    // A failed read leaves the default in the buffer, as the real call does for a file it
    // cannot open.
    DWORD GetPrivateProfileStringA(const char* section, const char* key, const char* defaultValue,
                                   char* buffer, DWORD size, const char* fileName) override {
        if (in_.Fail("Profile.GetPrivateProfileStringA")) {
            if (!buffer || size == 0) return 0;
            std::string fallback = defaultValue ? defaultValue : "";
            if (fallback.size() >= size) fallback.resize(size - 1);
            fallback.copy(buffer, fallback.size());
            buffer[fallback.size()] = '\0';
            return static_cast<DWORD>(fallback.size());
        }
        return inner_.GetPrivateProfileStringA(section, key, defaultValue, buffer, size, fileName);
    }
    bool WritePrivateProfileStringA(const char* section, const char* key, const char* value,
                                    const char* fileName) override {
        return !in_.Fail("Profile.WritePrivateProfileStringA") &&
               inner_.WritePrivateProfileStringA(section, key, value, fileName);
    }

private:
    Profile& inner_;
    Injector& in_;
};

class FaultyFiles final : public Files {
public:
    FaultyFiles(Files& inner, Injector& injector) : inner_(inner), in_(injector) {}
    DWORD GetFileAttributesA(const char* path) override {
        if (in_.Fail("Files.GetFileAttributesA")) return kInvalidFileAttributes;
        return inner_.GetFileAttributesA(path);
    }
    bool SetFileAttributesA(const char* path, DWORD attributes) override {
        return !in_.Fail("Files.SetFileAttributesA") && inner_.SetFileAttributesA(path, attributes);
    }
    bool GetFileSizeEx(const char* path, std::uint64_t* size) override {
        return !in_.Fail("Files.GetFileSizeEx") && inner_.GetFileSizeEx(path, size);
    }
    bool DeleteFileA(const char* path) override {
        return !in_.Fail("Files.DeleteFileA") && inner_.DeleteFileA(path);
    }
    bool CreateDirectoryA(const char* path) override {
        return !in_.Fail("Files.CreateDirectoryA") && inner_.CreateDirectoryA(path);
    }
    bool RemoveDirectoryA(const char* path) override {
        return !in_.Fail("Files.RemoveDirectoryA") && inner_.RemoveDirectoryA(path);
    }
    bool MakeSureDirectoryPathExists(const char* path) override {
        return !in_.Fail("Files.MakeSureDirectoryPathExists") &&
               inner_.MakeSureDirectoryPathExists(path);
    }
    bool CopyFileA(const char* source, const char* destination, bool failIfExists) override {
        return !in_.Fail("Files.CopyFileA") && inner_.CopyFileA(source, destination, failIfExists);
    }
    bool MoveFileA(const char* source, const char* destination) override {
        return !in_.Fail("Files.MoveFileA") && inner_.MoveFileA(source, destination);
    }
    DWORD GetReparsePointOwner(const char* path, bool* reparsePoint, bool* adminOwned) override {
        if (in_.Fail("Files.GetReparsePointOwner")) {
            *reparsePoint = *adminOwned = false;
            return static_cast<DWORD>(in_.Code());
        }
        return inner_.GetReparsePointOwner(path, reparsePoint, adminOwned);
    }
    bool FindFiles(const char* pattern, std::vector<FindData>* found) override {
        if (in_.Fail("Files.FindFiles")) {
            if (found) found->clear();
            return false;
        }
        return inner_.FindFiles(pattern, found);
    }
    bool AppendToFile(const char* path, const std::string& bytes) override {
        return !in_.Fail("Files.AppendToFile") && inner_.AppendToFile(path, bytes);
    }
    bool ReadWholeFile(const char* path, std::string* bytes) override {
        return !in_.Fail("Files.ReadWholeFile") && inner_.ReadWholeFile(path, bytes);
    }
    DWORD GetSystemDirectoryA(char* buffer, DWORD size) override {
        if (in_.Fail("Files.GetSystemDirectoryA")) return 0;
        return inner_.GetSystemDirectoryA(buffer, size);
    }
    bool IsWow64Process(bool* wow64) override {
        return !in_.Fail("Files.IsWow64Process") && inner_.IsWow64Process(wow64);
    }
    bool Wow64DisableWow64FsRedirection(void** oldValue) override {
        return !in_.Fail("Files.Wow64DisableWow64FsRedirection") &&
               inner_.Wow64DisableWow64FsRedirection(oldValue);
    }
    bool Wow64RevertWow64FsRedirection(void* oldValue) override {
        return !in_.Fail("Files.Wow64RevertWow64FsRedirection") &&
               inner_.Wow64RevertWow64FsRedirection(oldValue);
    }

private:
    Files& inner_;
    Injector& in_;
};

class FaultyProcesses final : public Processes {
public:
    FaultyProcesses(Processes& inner, Injector& injector) : inner_(inner), in_(injector) {}
    bool SnapshotProcesses(std::vector<ProcessEntry>* entries) override {
        if (in_.Fail("Processes.SnapshotProcesses")) {
            if (entries) entries->clear();
            return false;
        }
        return inner_.SnapshotProcesses(entries);
    }
    HANDLE OpenProcess(DWORD access, bool inheritHandle, DWORD processId) override {
        if (in_.Fail("Processes.OpenProcess")) return 0;
        return inner_.OpenProcess(access, inheritHandle, processId);
    }
    bool EnumProcessModules(HANDLE process, DWORD* bytesNeeded) override {
        return !in_.Fail("Processes.EnumProcessModules") &&
               inner_.EnumProcessModules(process, bytesNeeded);
    }
    DWORD GetModuleFileNameExA(HANDLE process, char* buffer, DWORD size) override {
        if (in_.Fail("Processes.GetModuleFileNameExA")) return 0;
        return inner_.GetModuleFileNameExA(process, buffer, size);
    }
    bool TerminateProcess(HANDLE process, unsigned exitCode) override {
        return !in_.Fail("Processes.TerminateProcess") &&
               inner_.TerminateProcess(process, exitCode);
    }
    bool QueryFullProcessImageNameA(HANDLE process, char* buffer, DWORD* size) override {
        return !in_.Fail("Processes.QueryFullProcessImageNameA") &&
               inner_.QueryFullProcessImageNameA(process, buffer, size);
    }
    // The handle is closed either way, so that an injected failure leaks nothing.
    bool CloseHandle(HANDLE handle) override {
        const bool closed = inner_.CloseHandle(handle);
        return !in_.Fail("Processes.CloseHandle") && closed;
    }
    bool ShellExecuteExA(ShellExecuteInfo* info) override {
        if (in_.Fail("Processes.ShellExecuteExA")) {
            if (info) info->hProcess = 0;
            return false;
        }
        return inner_.ShellExecuteExA(info);
    }
    DWORD WaitForSingleObject(HANDLE handle, DWORD milliseconds) override {
        if (in_.Fail("Processes.WaitForSingleObject")) return kWaitFailed;
        return inner_.WaitForSingleObject(handle, milliseconds);
    }
    bool GetExitCodeProcess(HANDLE process, DWORD* exitCode) override {
        return !in_.Fail("Processes.GetExitCodeProcess") &&
               inner_.GetExitCodeProcess(process, exitCode);
    }
    void ExitProcess(unsigned exitCode) override { inner_.ExitProcess(exitCode); }

private:
    Processes& inner_;
    Injector& in_;
};

class FaultyClock final : public Clock {
public:
    FaultyClock(Clock& inner, Injector& injector) : inner_(inner), in_(injector) {}
    // GetLocalTime and GetTickCount64 cannot fail on Windows; the nearest thing is a clock that
    // answers nonsense, so a failed call gives the zero date and a zero count.
    SystemTime GetLocalTime() override {
        if (in_.Fail("Clock.GetLocalTime")) return SystemTime{};
        return inner_.GetLocalTime();
    }
    std::uint64_t GetTickCount64() override {
        if (in_.Fail("Clock.GetTickCount64")) return 0;
        return inner_.GetTickCount64();
    }
    bool FileTimeToLocalSystemTime(std::uint64_t fileTime, SystemTime* local) override {
        return !in_.Fail("Clock.FileTimeToLocalSystemTime") &&
               inner_.FileTimeToLocalSystemTime(fileTime, local);
    }
    bool GetShortDateText(const SystemTime& time, std::string* text) override {
        return !in_.Fail("Clock.GetShortDateText") && inner_.GetShortDateText(time, text);
    }
    bool GetLongTimeText(const SystemTime& time, std::string* text) override {
        return !in_.Fail("Clock.GetLongTimeText") && inner_.GetLongTimeText(time, text);
    }
    LONG VarDateFromStr(const std::string& text, double* date) override {
        if (in_.Fail("Clock.VarDateFromStr")) return kDispTypeMismatch;
        return inner_.VarDateFromStr(text, date);
    }

private:
    Clock& inner_;
    Injector& in_;
};

class FaultyEnvironment final : public Environment {
public:
    FaultyEnvironment(Environment& inner, Injector& injector) : inner_(inner), in_(injector) {}
    bool GetEnvironmentVariableA(const char* name, std::string* value) override {
        return !in_.Fail("Environment.GetEnvironmentVariableA") &&
               inner_.GetEnvironmentVariableA(name, value);
    }

private:
    Environment& inner_;
    Injector& in_;
};

class FaultySelf final : public Self {
public:
    FaultySelf(Self& inner, Injector& injector) : inner_(inner), in_(injector) {}
    std::string ExeName() override {
        if (in_.Fail("Self.ExeName")) return {};
        return inner_.ExeName();
    }
    ProgramVersion Version() override {
        if (in_.Fail("Self.Version")) return {};
        return inner_.Version();
    }
    std::string ArgumentText() override {
        if (in_.Fail("Self.ArgumentText")) return {};
        return inner_.ArgumentText();
    }
    // A failed instance test (the mutex cannot be made) cannot tell of another instance.
    bool PreviousInstanceRunning() override {
        if (in_.Fail("Self.PreviousInstanceRunning")) return false;
        return inner_.PreviousInstanceRunning();
    }

private:
    Self& inner_;
    Injector& in_;
};

class FaultySession final : public Session {
public:
    FaultySession(Session& inner, Injector& injector) : inner_(inner), in_(injector) {}
    bool GetUserNameA(char* buffer, DWORD* size) override {
        return !in_.Fail("Session.GetUserNameA") && inner_.GetUserNameA(buffer, size);
    }
    // A failed console query finds no session attached.
    DWORD WTSGetActiveConsoleSessionId() override {
        if (in_.Fail("Session.WTSGetActiveConsoleSessionId")) return 0xFFFFFFFFu;
        return inner_.WTSGetActiveConsoleSessionId();
    }
    bool WTSQueryUserToken(DWORD sessionId, HANDLE* token) override {
        return !in_.Fail("Session.WTSQueryUserToken") && inner_.WTSQueryUserToken(sessionId, token);
    }
    bool DuplicateTokenEx(HANDLE token, DWORD desiredAccess, bool inheritHandle,
                          int impersonationLevel, int tokenType, HANDLE* newToken) override {
        if (in_.Fail("Session.DuplicateTokenEx")) {
            if (newToken) *newToken = 0;
            return false;
        }
        return inner_.DuplicateTokenEx(token, desiredAccess, inheritHandle, impersonationLevel,
                                       tokenType, newToken);
    }
    bool CreateEnvironmentBlock(EnvironmentBlock* environment, HANDLE token,
                                bool inherit) override {
        if (in_.Fail("Session.CreateEnvironmentBlock")) {
            if (environment) *environment = 0;
            return false;
        }
        return inner_.CreateEnvironmentBlock(environment, token, inherit);
    }
    // The block is released either way, so that an injected failure leaks nothing.
    bool DestroyEnvironmentBlock(EnvironmentBlock environment) override {
        const bool destroyed = inner_.DestroyEnvironmentBlock(environment);
        return !in_.Fail("Session.DestroyEnvironmentBlock") && destroyed;
    }
    bool CreateProcessAsUserA(HANDLE token, const char* applicationName, const char* commandLine,
                              bool inheritHandles, DWORD creationFlags,
                              EnvironmentBlock environment, const char* currentDirectory,
                              const StartupInfo& startup,
                              ProcessInformation* information) override {
        if (in_.Fail("Session.CreateProcessAsUserA")) {
            if (information) *information = ProcessInformation{};
            return false;
        }
        return inner_.CreateProcessAsUserA(token, applicationName, commandLine, inheritHandles,
                                           creationFlags, environment, currentDirectory, startup,
                                           information);
    }
    bool OpenProcessToken(HANDLE process, DWORD desiredAccess, HANDLE* token) override {
        if (in_.Fail("Session.OpenProcessToken")) {
            if (token) *token = 0;
            return false;
        }
        return inner_.OpenProcessToken(process, desiredAccess, token);
    }
    bool ImpersonateLoggedOnUser(HANDLE token) override {
        return !in_.Fail("Session.ImpersonateLoggedOnUser") &&
               inner_.ImpersonateLoggedOnUser(token);
    }
    // The impersonation ends either way: a failure here must not leave the thread as the user.
    bool RevertToSelf() override {
        const bool reverted = inner_.RevertToSelf();
        return !in_.Fail("Session.RevertToSelf") && reverted;
    }

private:
    Session& inner_;
    Injector& in_;
};

class FaultySystem final : public System {
public:
    FaultySystem(System& inner, Injector& injector) : inner_(inner), in_(injector) {}
    DWORD GetLastError() override { return inner_.GetLastError(); }
    void SetLastError(DWORD error) override { inner_.SetLastError(error); }
    DWORD FormatMessageA(DWORD messageId, char* buffer, DWORD size) override {
        if (in_.Fail("System.FormatMessageA")) return 0;
        return inner_.FormatMessageA(messageId, buffer, size);
    }
    LONG InitializeComSecurity() override {
        if (in_.Fail("System.InitializeComSecurity")) return in_.Code();
        return inner_.InitializeComSecurity();
    }

private:
    System& inner_;
    Injector& in_;
};

class FaultyComponents final : public Components {
public:
    FaultyComponents(Components& inner, Injector& injector) : inner_(inner), in_(injector) {}
    bool CallCipher(const char* libraryPath, const char* exportName, char* buffer,
                    std::int32_t length) override {
        return !in_.Fail("Components.CallCipher") &&
               inner_.CallCipher(libraryPath, exportName, buffer, length);
    }
    // A failed COM call reports the injected system error as its HRESULT.
    LONG CreateObject(const char* progId, ComObject* object) override {
        if (in_.Fail("Components.CreateObject")) {
            if (object) *object = 0;
            return HresultFromWin32(in_.Code());
        }
        return inner_.CreateObject(progId, object);
    }
    void ReleaseObject(ComObject object) override { inner_.ReleaseObject(object); }
    LONG EncryptText(ComObject encryptor, const std::string& text, std::string* encrypted,
                     std::string* errorText) override {
        if (in_.Fail("Components.EncryptText")) return HresultFromWin32(in_.Code());
        return inner_.EncryptText(encryptor, text, encrypted, errorText);
    }
    LONG PostXMLString(ComObject webPost, PostXmlStringCall* call,
                       std::string* errorText) override {
        if (in_.Fail("Components.PostXMLString")) return HresultFromWin32(in_.Code());
        return inner_.PostXMLString(webPost, call, errorText);
    }

private:
    Components& inner_;
    Injector& in_;
};

class FaultyWmi final : public Wmi {
public:
    FaultyWmi(Wmi& inner, Injector& injector) : inner_(inner), in_(injector) {}
    LONG BindMoniker(const std::string& moniker, WmiService* service) override {
        if (in_.Fail("Wmi.BindMoniker")) {
            if (service) *service = 0;
            return kWbemFailed;
        }
        return inner_.BindMoniker(moniker, service);
    }
    LONG ConnectServer(const std::string& server, const std::string& nameSpace,
                       const std::string& user, const std::string& password, int impersonationLevel,
                       WmiService* service) override {
        if (in_.Fail("Wmi.ConnectServer")) {
            if (service) *service = 0;
            return kWbemFailed;
        }
        return inner_.ConnectServer(server, nameSpace, user, password, impersonationLevel, service);
    }
    LONG ExecQuery(WmiService service, const std::string& query,
                   const std::vector<std::string>& properties,
                   std::vector<WmiObject>* objects) override {
        if (in_.Fail("Wmi.ExecQuery")) {
            if (objects) objects->clear();
            return kWbemFailed;
        }
        return inner_.ExecQuery(service, query, properties, objects);
    }
    void ReleaseService(WmiService service) override { inner_.ReleaseService(service); }

private:
    Wmi& inner_;
    Injector& in_;
};

class FaultyPower final : public Power {
public:
    FaultyPower(Power& inner, Injector& injector) : inner_(inner), in_(injector) {}
    bool OpenCurrentProcessToken(DWORD access, HANDLE* token) override {
        if (in_.Fail("Power.OpenCurrentProcessToken")) {
            if (token) *token = 0;
            return false;
        }
        return inner_.OpenCurrentProcessToken(access, token);
    }
    bool LookupPrivilegeValueA(const char* systemName, const char* name, Luid* luid) override {
        return !in_.Fail("Power.LookupPrivilegeValueA") &&
               inner_.LookupPrivilegeValueA(systemName, name, luid);
    }
    bool AdjustTokenPrivileges(HANDLE token, bool disableAll, const TokenPrivileges2* newState,
                               DWORD bufferLength, TokenPrivileges2* previousState,
                               DWORD* returnLength) override {
        return !in_.Fail("Power.AdjustTokenPrivileges") &&
               inner_.AdjustTokenPrivileges(token, disableAll, newState, bufferLength,
                                            previousState, returnLength);
    }
    bool InitiateSystemShutdownExA(const char* machineName, const char* message,
                                   DWORD timeoutSeconds, bool forceAppsClosed,
                                   bool rebootAfterShutdown, DWORD reason) override {
        return !in_.Fail("Power.InitiateSystemShutdownExA") &&
               inner_.InitiateSystemShutdownExA(machineName, message, timeoutSeconds,
                                                forceAppsClosed, rebootAfterShutdown, reason);
    }
    HANDLE RegisterEventSourceA(const char* serverName, const char* sourceName) override {
        if (in_.Fail("Power.RegisterEventSourceA")) return 0;
        return inner_.RegisterEventSourceA(serverName, sourceName);
    }
    bool ReportEventA(HANDLE eventLog, std::uint16_t type, std::uint16_t category, DWORD eventId,
                      const std::vector<std::string>& strings) override {
        return !in_.Fail("Power.ReportEventA") &&
               inner_.ReportEventA(eventLog, type, category, eventId, strings);
    }
    // The log is closed either way, so that an injected failure leaks nothing.
    bool DeregisterEventSource(HANDLE eventLog) override {
        const bool closed = inner_.DeregisterEventSource(eventLog);
        return !in_.Fail("Power.DeregisterEventSource") && closed;
    }

private:
    Power& inner_;
    Injector& in_;
};

class FaultyRegisteredTask final : public RegisteredTask {
public:
    FaultyRegisteredTask(std::unique_ptr<RegisteredTask> inner, Injector& injector)
        : inner_(std::move(inner)), in_(injector) {}
    LONG get_State(LONG* state) override {
        if (in_.Fail("Tasks.get_State")) return HresultFromWin32(in_.Code());
        return inner_->get_State(state);
    }
    LONG get_Name(std::string* name) override {
        if (in_.Fail("Tasks.get_Name")) return HresultFromWin32(in_.Code());
        return inner_->get_Name(name);
    }
    LONG put_Enabled(bool enabled) override {
        if (in_.Fail("Tasks.put_Enabled")) return HresultFromWin32(in_.Code());
        return inner_->put_Enabled(enabled);
    }

private:
    std::unique_ptr<RegisteredTask> inner_;
    Injector& in_;
};

class FaultyTasks final : public Tasks {
public:
    FaultyTasks(Tasks& inner, Injector& injector) : inner_(inner), in_(injector) {}
    LONG GetTask(const std::string& folderPath, const std::string& taskName,
                 std::unique_ptr<RegisteredTask>* task) override {
        if (in_.Fail("Tasks.GetTask")) {
            task->reset();
            return HresultFromWin32(in_.Code());
        }
        const LONG result = inner_.GetTask(folderPath, taskName, task);
        if (*task) *task = std::make_unique<FaultyRegisteredTask>(std::move(*task), in_);
        return result;
    }

private:
    Tasks& inner_;
    Injector& in_;
};

// Each call on a document can fail with the injected system error as its HRESULT.
class FaultyXmlDocument final : public XmlDocument {
public:
    FaultyXmlDocument(std::unique_ptr<XmlDocument> inner, Injector& injector)
        : inner_(std::move(inner)), in_(injector) {}
    LONG LoadXML(const std::string& text, bool* parsed) override {
        if (in_.Fail("Xml.LoadXML")) {
            if (parsed) *parsed = false;
            return HresultFromWin32(in_.Code());
        }
        return inner_->LoadXML(text, parsed);
    }
    XmlNode DocumentNode() override { return inner_->DocumentNode(); }
    LONG HasChildNodes(XmlNode node, bool* has) override {
        if (in_.Fail("Xml.HasChildNodes")) return HresultFromWin32(in_.Code());
        return inner_->HasChildNodes(node, has);
    }
    LONG GetElementsByTagName(const std::string& tagName, std::vector<XmlNode>* elements) override {
        if (in_.Fail("Xml.GetElementsByTagName")) return HresultFromWin32(in_.Code());
        return inner_->GetElementsByTagName(tagName, elements);
    }
    LONG ChildNodes(XmlNode node, std::vector<XmlNode>* children) override {
        if (in_.Fail("Xml.ChildNodes")) return HresultFromWin32(in_.Code());
        return inner_->ChildNodes(node, children);
    }
    LONG NodeType(XmlNode node, int* type) override {
        if (in_.Fail("Xml.NodeType")) return HresultFromWin32(in_.Code());
        return inner_->NodeType(node, type);
    }
    LONG NodeName(XmlNode node, std::string* name) override {
        if (in_.Fail("Xml.NodeName")) return HresultFromWin32(in_.Code());
        return inner_->NodeName(node, name);
    }
    LONG BaseName(XmlNode node, std::string* name) override {
        if (in_.Fail("Xml.BaseName")) return HresultFromWin32(in_.Code());
        return inner_->BaseName(node, name);
    }
    LONG Attributes(XmlNode node, std::vector<XmlAttribute>* attributes) override {
        if (in_.Fail("Xml.Attributes")) return HresultFromWin32(in_.Code());
        return inner_->Attributes(node, attributes);
    }

private:
    std::unique_ptr<XmlDocument> inner_;
    Injector& in_;
};

class FaultyXml final : public Xml {
public:
    FaultyXml(Xml& inner, Injector& injector) : inner_(inner), in_(injector) {}
    LONG CreateDocument(std::unique_ptr<XmlDocument>* document) override {
        if (in_.Fail("Xml.CreateDocument")) {
            if (document) document->reset();
            return HresultFromWin32(in_.Code());
        }
        const LONG result = inner_.CreateDocument(document);
        if (document && *document) {
            *document = std::make_unique<FaultyXmlDocument>(std::move(*document), in_);
        }
        return result;
    }

private:
    Xml& inner_;
    Injector& in_;
};

// A failed post reports the injected system error as its HRESULT, with the system's text.
class FaultyHttp final : public Http {
public:
    FaultyHttp(Http& inner, Injector& injector) : inner_(inner), in_(injector) {}
    bool Post(const std::string& url,
              const std::vector<std::pair<std::string, std::string>>& headers,
              const std::string& body, HttpResponse* response, long* errorNumber,
              std::string* errorText) override {
        if (in_.Fail("Http.Post")) {
            if (errorNumber) *errorNumber = HresultFromWin32(in_.Code());
            if (errorText) {
                char text[512] = {};
                const DWORD length =
                    in_.innerSystem.FormatMessageA(in_.plan.code, text, sizeof text);
                std::string message(text, length);
                while (!message.empty() && (message.back() == '\n' || message.back() == '\r')) {
                    message.pop_back();
                }
                *errorText = message;
            }
            return false;
        }
        return inner_.Post(url, headers, body, response, errorNumber, errorText);
    }

private:
    Http& inner_;
    Injector& in_;
};

}  // namespace

struct FaultInjectingPlatform::Facets {
    Facets(Platform& inner, FaultPlan& plan)
        : injector{plan, inner.system()},
          registry(inner.registry(), injector),
          profile(inner.profile(), injector),
          files(inner.files(), injector),
          processes(inner.processes(), injector),
          clock(inner.clock(), injector),
          environment(inner.environment(), injector),
          self(inner.self(), injector),
          session(inner.session(), injector),
          system(inner.system(), injector),
          components(inner.components(), injector),
          wmi(inner.wmi(), injector),
          power(inner.power(), injector),
          tasks(inner.tasks(), injector),
          http(inner.http(), injector),
          xml(inner.xml(), injector) {}
    Injector injector;
    FaultyRegistry registry;
    FaultyProfile profile;
    FaultyFiles files;
    FaultyProcesses processes;
    FaultyClock clock;
    FaultyEnvironment environment;
    FaultySelf self;
    FaultySession session;
    FaultySystem system;
    FaultyComponents components;
    FaultyWmi wmi;
    FaultyPower power;
    FaultyTasks tasks;
    FaultyHttp http;
    FaultyXml xml;
};

FaultInjectingPlatform::FaultInjectingPlatform(Platform& inner, FaultPlan& plan)
    : facets_(std::make_unique<Facets>(inner, plan)) {}
FaultInjectingPlatform::~FaultInjectingPlatform() = default;

Registry& FaultInjectingPlatform::registry() {
    return facets_->registry;
}
Profile& FaultInjectingPlatform::profile() {
    return facets_->profile;
}
Files& FaultInjectingPlatform::files() {
    return facets_->files;
}
Processes& FaultInjectingPlatform::processes() {
    return facets_->processes;
}
Clock& FaultInjectingPlatform::clock() {
    return facets_->clock;
}
Environment& FaultInjectingPlatform::environment() {
    return facets_->environment;
}
Self& FaultInjectingPlatform::self() {
    return facets_->self;
}
Session& FaultInjectingPlatform::session() {
    return facets_->session;
}
System& FaultInjectingPlatform::system() {
    return facets_->system;
}
Components& FaultInjectingPlatform::components() {
    return facets_->components;
}
Wmi& FaultInjectingPlatform::wmi() {
    return facets_->wmi;
}
Power& FaultInjectingPlatform::power() {
    return facets_->power;
}
Tasks& FaultInjectingPlatform::tasks() {
    return facets_->tasks;
}
Http& FaultInjectingPlatform::http() {
    return facets_->http;
}
Xml& FaultInjectingPlatform::xml() {
    return facets_->xml;
}

}  // namespace platform

#include "fault_injection.h"

#include <cstdlib>
#include <tuple>
#include <type_traits>
#include <utility>

#include "run/failures.h"

namespace platform {

bool FaultPlan::ShouldFail(std::string operation) {
    ++calls;
    const bool chosen =
        !failOperation.empty() && operation == failOperation && ++occurrences == failOccurrence;
    trace.push_back(std::move(operation));
    if (calls == stopAt) std::_Exit(kStoppedExitCode);
    return chosen || calls == failAt;
}

namespace {

// Shared by the decorators: the plan, and the inner System that takes a failure's last error.
struct Injector {
    FaultPlan& plan;
    System& innerSystem;
};

// How a call fails: as its result type does (Plain), after the inner call made anyway (a close
// that must not leak), with a value of its own (Or), emptying out-parameters (Clear), or also
// answering the system error (Code).
struct Plain {};
struct Anyway {};
template <auto V>
struct Or {
    static constexpr auto value = V;
};
template <class... T>
struct Clear {
    Clear(T*... outs) : outs(outs...) {}
    std::tuple<T*...> outs;
};
template <class... T>
struct Code : Clear<T...> {
    using Clear<T...>::Clear;
    static constexpr bool kCode = true;
};
template <class... T>
Code(T*...) -> Code<T...>;

// A facet passed on to its inner one, each call counted as "<facet>.<operation>" by the plan; a
// task or a document owns the one it decorates, its calls counted under its facet's name.
template <class F>
class Decorator : public F {
public:
    using Facet = F;
    Decorator(Facet& inner, Injector& injector, const char* name)
        : inner_(inner), in_(injector), name_(name) {}
    Decorator(std::unique_ptr<F> owned, Injector& injector, const char* name)
        : owned_(std::move(owned)), inner_(*owned_), in_(injector), name_(name) {}

protected:
    // A failed call's result: false, zero or empty; a LONG is the system error (registry, COM
    // security), WBEM_E_FAILED, DISP_E_TYPEMISMATCH (clock) or the error as an HRESULT (COM).
    template <class R>
    R Failed() const {
        if constexpr (!std::is_same_v<R, LONG>) {
            return R{};
        } else {
            const LONG code = static_cast<LONG>(in_.plan.code);
            if (std::is_same_v<F, Registry> || std::is_same_v<F, System>) return code;
            if (std::is_same_v<F, Wmi>) return kWbemFailed;
            if (std::is_same_v<F, Clock>) return kDispTypeMismatch;
            return HresultFromWin32(code);
        }
    }
    bool Fail(const char* operation) {
        if (!in_.plan.ShouldFail(name_ + "." + operation)) return false;
        in_.innerSystem.SetLastError(in_.plan.code);
        return true;
    }

    template <class How, class R, class... P, class... A>
    R Call(How how, const char* op, R (Facet::*method)(P...), A&&... args) {
        if constexpr (std::is_same_v<How, Anyway>) {
            const R result = (inner_.*method)(std::forward<A>(args)...);
            return Fail(op) ? Failed<R>() : result;
        } else if (!Fail(op)) {
            return (inner_.*method)(std::forward<A>(args)...);
        } else if constexpr (requires { how.value; }) {
            return static_cast<R>(how.value);
        } else {
            if constexpr (requires { how.outs; }) {
                std::apply([](auto*... out) { ((out ? void(*out = {}) : void()), ...); }, how.outs);
                if constexpr (requires { How::kCode; }) return static_cast<R>(in_.plan.code);
            }
            return Failed<R>();
        }
    }

    std::unique_ptr<F> owned_;  // first: what inner_ names when it is owned
    Facet& inner_;
    Injector& in_;
    std::string name_;
};

// An operation's parameters from their types alone (T1 a1, T2 a2, ...), and its arguments.
#define RS_NTH(_1, _2, _3, _4, _5, _6, _7, _8, _9, N, ...) N
#define RS_EACH(M, ...)                                                                           \
    RS_NTH(__VA_ARGS__ __VA_OPT__(, ) RS_EACH9, RS_EACH8, RS_EACH7, RS_EACH6, RS_EACH5, RS_EACH4, \
           RS_EACH3, RS_EACH2, RS_EACH1, RS_EACH0)                                                \
    (M, __VA_ARGS__)
#define RS_EACH0(M, ...)
#define RS_EACH1(M, T1) M(T1, 1)
#define RS_EACH2(M, T1, T2) RS_EACH1(M, T1), M(T2, 2)
#define RS_EACH3(M, T1, T2, T3) RS_EACH2(M, T1, T2), M(T3, 3)
#define RS_EACH4(M, T1, T2, T3, T4) RS_EACH3(M, T1, T2, T3), M(T4, 4)
#define RS_EACH5(M, T1, T2, T3, T4, T5) RS_EACH4(M, T1, T2, T3, T4), M(T5, 5)
#define RS_EACH6(M, T1, T2, T3, T4, T5, T6) RS_EACH5(M, T1, T2, T3, T4, T5), M(T6, 6)
#define RS_EACH9(M, T1, T2, T3, T4, T5, T6, T7, T8, T9) \
    RS_EACH6(M, T1, T2, T3, T4, T5, T6), M(T7, 7), M(T8, 8), M(T9, 9)
#define RS_PARAMETER(T, n) T a##n
#define RS_ARGUMENT(T, n) a##n

// One operation of the decorated facet, from its result and parameter types, passed on to the
// inner one and failing as `how` says (aN names its N-th parameter).
#define RS_FORWARD_AS(how, R, Op, ...)                                                     \
    R Op(RS_EACH(RS_PARAMETER, __VA_ARGS__)) override {                                    \
        return Call(how, #Op, &Facet::Op __VA_OPT__(, RS_EACH(RS_ARGUMENT, __VA_ARGS__))); \
    }
#define RS_FORWARD(R, Op, ...) RS_FORWARD_AS(Plain{}, R, Op, __VA_ARGS__)

struct FaultyRegistry final : Decorator<Registry> {
    using Decorator::Decorator;
    RS_FORWARD_AS(Clear{a3}, LONG, RegOpenKeyA, HKEY, const char*, HKEY*);
    RS_FORWARD_AS(Clear{a5}, LONG, RegOpenKeyExA, HKEY, const char*, DWORD, DWORD, HKEY*);
    RS_FORWARD(LONG, RegQueryValueExA, HKEY, const char*, DWORD*, BYTE*, DWORD*);
    RS_FORWARD(LONG, RegSetValueExA, HKEY, const char*, DWORD, const BYTE*, DWORD);
    RS_FORWARD_AS(Anyway{}, LONG, RegCloseKey, HKEY);
    RS_FORWARD(LONG, RegEnumKeyExA, HKEY, DWORD, std::string*);
    RS_FORWARD(LONG, RegEnumValueA, HKEY, DWORD, std::string*);
    RS_FORWARD_AS(Clear{a2}, LONG, RegQueryInfoKeyA, HKEY, std::uint64_t*);
};

struct FaultyProfile final : Decorator<Profile> {
    using Decorator::Decorator;
    // A failed read leaves the default in the buffer, as for a file the real call cannot open.
    DWORD GetPrivateProfileStringA(const char* section, const char* key, const char* fallback,
                                   char* buffer, DWORD size, const char* fileName) override {
        if (Fail("GetPrivateProfileStringA")) {
            if (!buffer || size == 0) return 0;
            const std::size_t n = std::string(fallback ? fallback : "").copy(buffer, size - 1);
            buffer[n] = '\0';
            return static_cast<DWORD>(n);
        }
        return inner_.GetPrivateProfileStringA(section, key, fallback, buffer, size, fileName);
    }
    RS_FORWARD(bool, WritePrivateProfileStringA, const char*, const char*, const char*,
               const char*);
};

struct FaultyFiles final : Decorator<Files> {
    using Decorator::Decorator;
    RS_FORWARD_AS(Or<kInvalidFileAttributes>{}, DWORD, GetFileAttributesA, const char*);
    RS_FORWARD(bool, SetFileAttributesA, const char*, DWORD);
    RS_FORWARD(bool, GetFileSizeEx, const char*, std::uint64_t*);
    RS_FORWARD(bool, DeleteFileA, const char*);
    RS_FORWARD(bool, CreateDirectoryA, const char*);
    RS_FORWARD(bool, CreateProtectedDirectoryA, const char*, FolderDacl);
    RS_FORWARD(bool, RemoveDirectoryA, const char*);
    RS_FORWARD(bool, MakeSureDirectoryPathExists, const char*);
    RS_FORWARD(bool, CopyFileA, const char*, const char*, bool);
    RS_FORWARD(bool, MoveFileA, const char*, const char*);
    RS_FORWARD(bool, MoveFileExA, const char*, const char*, DWORD);
    // Written out: the name is overloaded (the two-argument form passes a time of 0).
    bool WriteNewFile(const char* a1, const std::string& a2, std::uint64_t a3) override {
        using Op = bool (Files::*)(const char*, const std::string&, std::uint64_t);
        return Call(Plain{}, "WriteNewFile", static_cast<Op>(&Files::WriteNewFile), a1, a2, a3);
    }
    RS_FORWARD_AS((Code{a2, a3}), DWORD, GetReparsePointOwner, const char*, bool*, bool*);
    RS_FORWARD_AS(Code{a2}, DWORD, GetOwnerAndRights, const char*, FileSecurity*);
    RS_FORWARD_AS(Code{a2}, DWORD, LookupAccountNameA, const char*, Sid*);
    RS_FORWARD_AS(Code{a1}, DWORD, GetAdministratorsMembers, std::vector<Sid>*);
    // A comparison of two SIDs in memory: nothing of the system to fail.
    bool EqualSid(const Sid& a, const Sid& b) override { return inner_.EqualSid(a, b); }
    RS_FORWARD_AS(Code{a2}, DWORD, OpenFileToHold, const char*, HANDLE*);
    RS_FORWARD_AS(Clear{a2}, bool, FindFiles, const char*, std::vector<FindData>*);
    RS_FORWARD(bool, AppendToFile, const char*, const std::string&);
    RS_FORWARD(bool, ReadWholeFile, const char*, std::string*);
    RS_FORWARD(DWORD, GetSystemDirectoryA, char*, DWORD);
    RS_FORWARD(bool, GetFullPathNameA, const char*, std::string*);
    RS_FORWARD(bool, GetFileVersion, const char*, ProgramVersion*);
    RS_FORWARD(bool, IsWow64Process, bool*);
    RS_FORWARD(bool, Wow64DisableWow64FsRedirection, void**);
    RS_FORWARD(bool, Wow64RevertWow64FsRedirection, void*);
};

struct FaultyProcesses final : Decorator<Processes> {
    using Decorator::Decorator;
    RS_FORWARD_AS(Clear{a1}, bool, SnapshotProcesses, std::vector<ProcessEntry>*);
    RS_FORWARD(bool, QueryOwnJob, bool*, DWORD*);
    RS_FORWARD(HANDLE, OpenProcess, DWORD, bool, DWORD);
    RS_FORWARD(bool, EnumProcessModules, HANDLE, DWORD*);
    RS_FORWARD(DWORD, GetModuleFileNameExA, HANDLE, char*, DWORD);
    RS_FORWARD(bool, TerminateProcess, HANDLE, unsigned);
    RS_FORWARD(bool, QueryFullProcessImageNameA, HANDLE, char*, DWORD*);
    RS_FORWARD_AS(Anyway{}, bool, CloseHandle, HANDLE);
    RS_FORWARD_AS((Clear{a1 ? &a1->hProcess : nullptr}), bool, ShellExecuteExA, ShellExecuteInfo*);
    RS_FORWARD_AS(Or<kWaitFailed>{}, DWORD, WaitForSingleObject, HANDLE, DWORD);
    RS_FORWARD(bool, GetExitCodeProcess, HANDLE, DWORD*);
    void ExitProcess(unsigned exitCode) override { inner_.ExitProcess(exitCode); }
};

// GetLocalTime and GetTickCount64 cannot fail on Windows: a failed call answers nonsense, zero.
struct FaultyClock final : Decorator<Clock> {
    using Decorator::Decorator;
    RS_FORWARD(SystemTime, GetLocalTime);
    RS_FORWARD(std::uint64_t, GetTickCount64);
    // No failure on Windows (no result, no last error), nor of the steady clock: not counted.
    std::uint64_t GetSystemTimeAsFileTime() override { return inner_.GetSystemTimeAsFileTime(); }
    RS_FORWARD(bool, FileTimeToLocalSystemTime, std::uint64_t, SystemTime*);
    RS_FORWARD(bool, GetShortDateText, const SystemTime&, std::string*);
    RS_FORWARD(bool, GetLongTimeText, const SystemTime&, std::string*);
    RS_FORWARD(LONG, VarDateFromStr, const std::string&, double*);
    std::uint64_t BoundEnd(DWORD milliseconds) override { return inner_.BoundEnd(milliseconds); }
    DWORD BoundLeft(std::uint64_t end) override { return inner_.BoundLeft(end); }
};

struct FaultyEnvironment final : Decorator<Environment> {
    using Decorator::Decorator;
    RS_FORWARD(bool, GetEnvironmentVariableA, const char*, std::string*);
};

// A failed instance test (the mutex cannot be made) cannot tell of another instance.
struct FaultySelf final : Decorator<Self> {
    using Decorator::Decorator;
    RS_FORWARD(std::string, ExeName);
    RS_FORWARD(ProgramVersion, Version);
    RS_FORWARD(std::string, ArgumentText);
    RS_FORWARD(InstanceTest, PreviousInstanceRunning);
};

// A failed console query finds no session; the block is released and the revert made anyway.
struct FaultySession final : Decorator<Session> {
    using Decorator::Decorator;
    RS_FORWARD(bool, GetUserNameA, char*, DWORD*);
    RS_FORWARD_AS(Or<0xFFFFFFFFu>{}, DWORD, WTSGetActiveConsoleSessionId);
    RS_FORWARD(bool, WTSQueryUserToken, DWORD, HANDLE*);
    RS_FORWARD(bool, WTSQuerySessionUserName, DWORD, std::string*);
    RS_FORWARD(bool, WTSEnumerateSessionsA, std::vector<SessionEntry>*);
    RS_FORWARD_AS(Clear{a6}, bool, DuplicateTokenEx, HANDLE, DWORD, bool, int, int, HANDLE*);
    RS_FORWARD_AS(Clear{a1}, bool, CreateEnvironmentBlock, EnvironmentBlock*, HANDLE, bool);
    RS_FORWARD_AS(Anyway{}, bool, DestroyEnvironmentBlock, EnvironmentBlock);
    RS_FORWARD_AS(Clear{a9}, bool, CreateProcessAsUserA, HANDLE, const char*, const char*, bool,
                  DWORD, EnvironmentBlock, const char*, const StartupInfo&, ProcessInformation*);
    RS_FORWARD_AS(Clear{a3}, bool, OpenProcessToken, HANDLE, DWORD, HANDLE*);
    RS_FORWARD(bool, GetTokenUserName, HANDLE, std::string*);
    RS_FORWARD(bool, ImpersonateLoggedOnUser, HANDLE);
    RS_FORWARD_AS(Anyway{}, bool, RevertToSelf);
};

struct FaultySystem final : Decorator<System> {
    using Decorator::Decorator;
    DWORD GetLastError() override { return inner_.GetLastError(); }
    void SetLastError(DWORD error) override { inner_.SetLastError(error); }
    RS_FORWARD(DWORD, FormatMessageA, DWORD, char*, DWORD);
    RS_FORWARD(LONG, InitializeComSecurity);
};

struct FaultyComponents final : Decorator<Components> {
    using Decorator::Decorator;
    RS_FORWARD(bool, CallCipher, const char*, const char*, char*, std::int32_t, DWORD);
    RS_FORWARD_AS(Clear{a2}, LONG, CreateObject, const char*, ComObject*, DWORD);
    void ReleaseObject(ComObject object) override { inner_.ReleaseObject(object); }
    RS_FORWARD(LONG, EncryptText, ComObject, const char*, const std::string&, std::string*,
               std::string*, DWORD);
    RS_FORWARD(LONG, PostXMLString, ComObject, const char*, PostXmlStringCall*, std::string*,
               DWORD);
};

struct FaultyWmi final : Decorator<Wmi> {
    using Decorator::Decorator;
    RS_FORWARD_AS(Clear{a4}, LONG, BindMoniker, const std::string&, const std::string&, int,
                  WmiService*);
    RS_FORWARD_AS(Clear{a6}, LONG, ConnectServer, const std::string&, const std::string&,
                  const std::string&, const std::string&, int, WmiService*);
    RS_FORWARD_AS(Clear{a4}, LONG, ExecQuery, WmiService, const std::string&,
                  const std::vector<std::string>&, std::vector<WmiObject>*);
    void ReleaseService(WmiService service) override { inner_.ReleaseService(service); }
};

// The event log is closed either way, so that an injected failure leaks nothing.
struct FaultyPower final : Decorator<Power> {
    using Decorator::Decorator;
    RS_FORWARD_AS(Clear{a2}, bool, OpenCurrentProcessToken, DWORD, HANDLE*);
    RS_FORWARD(bool, LookupPrivilegeValueA, const char*, const char*, Luid*);
    RS_FORWARD(bool, AdjustTokenPrivileges, HANDLE, bool, const TokenPrivileges2*, DWORD,
               TokenPrivileges2*, DWORD*);
    RS_FORWARD(bool, InitiateSystemShutdownExA, const char*, const char*, DWORD, bool, bool, DWORD);
    RS_FORWARD(HANDLE, RegisterEventSourceA, const char*, const char*);
    RS_FORWARD(bool, ReportEventA, HANDLE, std::uint16_t, std::uint16_t, DWORD,
               const std::vector<std::string>&);
    RS_FORWARD_AS(Anyway{}, bool, DeregisterEventSource, HANDLE);
};

struct FaultyRegisteredTask final : Decorator<RegisteredTask> {
    using Decorator::Decorator;
    RS_FORWARD(LONG, get_State, LONG*);
    RS_FORWARD(LONG, get_Name, std::string*);
    RS_FORWARD(LONG, put_Enabled, bool);
};

struct FaultyTasks final : Decorator<Tasks> {
    using Decorator::Decorator;
    LONG GetTask(const std::string& folder, const std::string& name,
                 std::unique_ptr<RegisteredTask>* task) override {
        const LONG result = Call(Clear{task}, "GetTask", &Tasks::GetTask, folder, name, task);
        if (*task) *task = std::make_unique<FaultyRegisteredTask>(std::move(*task), in_, "Tasks");
        return result;
    }
};

struct FaultyXmlDocument final : Decorator<XmlDocument> {
    using Decorator::Decorator;
    RS_FORWARD_AS(Clear{a2}, LONG, LoadXML, const std::string&, bool*);
    XmlNode DocumentNode() override { return inner_.DocumentNode(); }
    RS_FORWARD(LONG, HasChildNodes, XmlNode, bool*);
    RS_FORWARD(LONG, GetElementsByTagName, const std::string&, std::vector<XmlNode>*);
    RS_FORWARD(LONG, ChildNodes, XmlNode, std::vector<XmlNode>*);
    RS_FORWARD(LONG, NodeType, XmlNode, int*);
    RS_FORWARD(LONG, NodeName, XmlNode, std::string*);
    RS_FORWARD(LONG, BaseName, XmlNode, std::string*);
    RS_FORWARD(LONG, Attributes, XmlNode, std::vector<XmlAttribute>*);
};

struct FaultyXml final : Decorator<Xml> {
    using Decorator::Decorator;
    LONG CreateDocument(std::unique_ptr<XmlDocument>* document) override {
        const LONG result = Call(Clear{document}, "CreateDocument", &Xml::CreateDocument, document);
        if (document && *document) {
            *document = std::make_unique<FaultyXmlDocument>(std::move(*document), in_, "Xml");
        }
        return result;
    }
};

// A failed post reports the injected system error as its HRESULT, with the system's text.
struct FaultyHttp final : Decorator<Http> {
    using Decorator::Decorator;
    bool Post(const std::string& url,
              const std::vector<std::pair<std::string, std::string>>& headers,
              const std::string& body, const HttpTimeouts& timeouts, HttpResponse* response,
              long* errorNumber, std::string* errorText) override {
        if (Fail("Post")) {
            if (errorNumber) *errorNumber = HresultFromWin32(static_cast<LONG>(in_.plan.code));
            if (errorText) *errorText = run::SystemMessage(in_.innerSystem, in_.plan.code);
            return false;
        }
        return inner_.Post(url, headers, body, timeouts, response, errorNumber, errorText);
    }
};

}  // namespace

struct FaultInjectingPlatform::Facets {
    Facets(Platform& in, FaultPlan& plan) : inner(in), injector{plan, in.system()} {}
    Platform& inner;
    Injector injector;
#define RS_FAULTY_FACET(Facet, name) Faulty##Facet name{inner.name(), injector, #Facet};
    RS_PLATFORM_FACETS(RS_FAULTY_FACET)
#undef RS_FAULTY_FACET
};

FaultInjectingPlatform::FaultInjectingPlatform(Platform& inner, FaultPlan& plan)
    : facets_(std::make_unique<Facets>(inner, plan)) {}
FaultInjectingPlatform::~FaultInjectingPlatform() = default;

#define RS_FAULTY_FACET_ACCESSOR(Facet, name) \
    Facet& FaultInjectingPlatform::name() {   \
        return facets_->name;                 \
    }
RS_PLATFORM_FACETS(RS_FAULTY_FACET_ACCESSOR)
#undef RS_FAULTY_FACET_ACCESSOR

}  // namespace platform

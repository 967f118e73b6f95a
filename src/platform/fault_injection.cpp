#include "platform/fault_injection.h"

namespace platform {

bool FaultPlan::ShouldFail(const char* operation) {
    ++calls;
    trace.emplace_back(operation);
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
        return !in_.Fail("Processes.TerminateProcess") && inner_.TerminateProcess(process, exitCode);
    }
    // The handle is closed either way, so that an injected failure leaks nothing.
    bool CloseHandle(HANDLE handle) override {
        const bool closed = inner_.CloseHandle(handle);
        return !in_.Fail("Processes.CloseHandle") && closed;
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

private:
    Components& inner_;
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
          components(inner.components(), injector) {}
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
};

FaultInjectingPlatform::FaultInjectingPlatform(Platform& inner, FaultPlan& plan)
    : facets_(std::make_unique<Facets>(inner, plan)) {}
FaultInjectingPlatform::~FaultInjectingPlatform() = default;

Registry& FaultInjectingPlatform::registry() { return facets_->registry; }
Profile& FaultInjectingPlatform::profile() { return facets_->profile; }
Files& FaultInjectingPlatform::files() { return facets_->files; }
Processes& FaultInjectingPlatform::processes() { return facets_->processes; }
Clock& FaultInjectingPlatform::clock() { return facets_->clock; }
Environment& FaultInjectingPlatform::environment() { return facets_->environment; }
Self& FaultInjectingPlatform::self() { return facets_->self; }
Session& FaultInjectingPlatform::session() { return facets_->session; }
System& FaultInjectingPlatform::system() { return facets_->system; }
Components& FaultInjectingPlatform::components() { return facets_->components; }

}  // namespace platform

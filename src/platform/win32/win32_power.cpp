// Power facet: the shutdown privilege, the restart request and the event source, called as they
// are; those a service answers within a bound.
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "platform/bounded_call.h"
#include "platform/power.h"
#include "platform/win32/win32_facets.h"
#include "platform/win32/windows_include.h"

namespace platform::win32 {
namespace {

// TOKEN_PRIVILEGES with room for two entries, as the program passes it.
struct NativePrivileges2 {
    ::DWORD PrivilegeCount;
    LUID_AND_ATTRIBUTES Privileges[2];
};
static_assert(sizeof(NativePrivileges2) == kTokenPrivileges2Size, "28 bytes, as passed");

NativePrivileges2 ToNative(const TokenPrivileges2& record) {
    NativePrivileges2 native{};
    native.PrivilegeCount = record.privilegeCount;
    for (int i = 0; i < 2; ++i) {
        native.Privileges[i].Luid.LowPart = record.privileges[i].luid.lowPart;
        native.Privileges[i].Luid.HighPart = record.privileges[i].luid.highPart;
        native.Privileges[i].Attributes = record.privileges[i].attributes;
    }
    return native;
}

TokenPrivileges2 FromNative(const NativePrivileges2& native) {
    TokenPrivileges2 record;
    record.privilegeCount = native.PrivilegeCount;
    for (int i = 0; i < 2; ++i) {
        record.privileges[i].luid = {native.Privileges[i].Luid.LowPart,
                                     native.Privileges[i].Luid.HighPart};
        record.privileges[i].attributes = native.Privileges[i].Attributes;
    }
    return record;
}

// The A functions take writable texts: copies, or null for a null text.
class Writable {
public:
    explicit Writable(const char* text) : present_(text != nullptr) {
        if (text) text_.assign(text, text + std::char_traits<char>::length(text));
        text_.push_back('\0');
    }
    char* get() { return present_ ? text_.data() : nullptr; }

private:
    bool present_;
    std::vector<char> text_;
};

class Win32Power final : public Power {
public:
    bool OpenCurrentProcessToken(DWORD access, HANDLE* token) override {
        ::HANDLE opened = nullptr;
        const BOOL ok = ::OpenProcessToken(::GetCurrentProcess(), access, &opened);
        if (token) *token = ok ? reinterpret_cast<HANDLE>(opened) : 0;
        return ok != FALSE;
    }

    bool LookupPrivilegeValueA(const char* systemName, const char* name, Luid* luid) override {
        LUID found{};
        const BOOL ok = ::LookupPrivilegeValueA(systemName, name, &found);
        if (ok && luid) *luid = {found.LowPart, found.HighPart};
        return ok != FALSE;
    }

    bool AdjustTokenPrivileges(HANDLE token, bool disableAll, const TokenPrivileges2* newState,
                               DWORD bufferLength, TokenPrivileges2* previousState,
                               DWORD* returnLength) override {
        NativePrivileges2 wanted = newState ? ToNative(*newState) : NativePrivileges2{};
        NativePrivileges2 previous{};
        ::DWORD length = returnLength ? *returnLength : 0;
        const BOOL ok = ::AdjustTokenPrivileges(
            reinterpret_cast<::HANDLE>(token), disableAll ? TRUE : FALSE,
            newState ? reinterpret_cast<PTOKEN_PRIVILEGES>(&wanted) : nullptr, bufferLength,
            previousState ? reinterpret_cast<PTOKEN_PRIVILEGES>(&previous) : nullptr,
            returnLength ? &length : nullptr);
        if (previousState) *previousState = FromNative(previous);
        if (returnLength) *returnLength = length;
        return ok != FALSE;
    }

    // The restart request and the event log's calls are answered by services: each is made on
    // the facet's worker within kPowerCallMs, with copies of its arguments.
    bool InitiateSystemShutdownExA(const char* machineName, const char* message,
                                   DWORD timeoutSeconds, bool forceAppsClosed,
                                   bool rebootAfterShutdown, DWORD reason) override {
        return Bounded([machine = Writable(machineName), comment = Writable(message),
                        timeoutSeconds, forceAppsClosed, rebootAfterShutdown, reason]() mutable {
                   return static_cast<std::uintptr_t>(::InitiateSystemShutdownExA(
                       machine.get(), comment.get(), timeoutSeconds, forceAppsClosed ? TRUE : FALSE,
                       rebootAfterShutdown ? TRUE : FALSE, reason));
               }) != 0;
    }

    HANDLE RegisterEventSourceA(const char* serverName, const char* sourceName) override {
        return Bounded([server = Writable(serverName), source = Writable(sourceName)]() mutable {
            return reinterpret_cast<std::uintptr_t>(
                ::RegisterEventSourceA(server.get(), source.get()));
        });
    }

    bool ReportEventA(HANDLE eventLog, std::uint16_t type, std::uint16_t category, DWORD eventId,
                      const std::vector<std::string>& strings) override {
        return Bounded([eventLog, type, category, eventId, strings] {
                   std::vector<const char*> texts;
                   for (const auto& text : strings) texts.push_back(text.c_str());
                   return static_cast<std::uintptr_t>(
                       ::ReportEventA(reinterpret_cast<::HANDLE>(eventLog), type, category, eventId,
                                      nullptr, static_cast<WORD>(texts.size()), 0,
                                      texts.empty() ? nullptr : texts.data(), nullptr));
               }) != 0;
    }

    bool DeregisterEventSource(HANDLE eventLog) override {
        return ::DeregisterEventSource(reinterpret_cast<::HANDLE>(eventLog)) != FALSE;
    }

private:
    // The call's result (0 is its failure) with its last error carried to this thread;
    // ERROR_TIMEOUT past the bound (the worker's failure when the call raised).
    template <class Work>
    std::uintptr_t Bounded(Work work) {
        struct Result {
            std::uintptr_t value = 0;
            ::DWORD error = 0;
        };
        if (!worker_ || worker_->lost()) worker_ = std::make_unique<BoundedCaller>();
        const auto done = worker_->Call<Result>(kPowerCallMs, [work = std::move(work)]() mutable {
            Result result;
            result.value = work();
            result.error = ::GetLastError();
            return result;
        });
        ::SetLastError(done ? done->error : worker_->failure());
        return done ? done->value : 0;
    }

    std::unique_ptr<BoundedCaller> worker_;
};

}  // namespace

std::unique_ptr<Power> MakeWin32Power() {
    return std::make_unique<Win32Power>();
}

}  // namespace platform::win32

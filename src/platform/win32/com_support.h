// COM helpers of the Win32 platform layer: the apartment a COM call needs, owners for interface
// pointers and BSTRs, and the text conversions at the wide-string boundary.
#pragma once

#include <memory>
#include <string>

#include "platform/bounded_call.h"
#include "platform/win32/unique_handle.h"
#include "platform/win32/windows_include.h"

// The Windows headers come after windows_include.h, which they need first.
// clang-format off
#include <objbase.h>
#include <oleauto.h>
// clang-format on

namespace platform::win32 {

// Joins the calling thread to a single-threaded apartment for the object's lifetime, as the
// runtime of a scripting host does before its first CreateObject. A thread already in another
// apartment stays in it and the calls still work.
class ComApartment {
public:
    ComApartment() : result_(::CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED)) {}
    ~ComApartment() {
        if (SUCCEEDED(result_)) ::CoUninitialize();
    }
    ComApartment(const ComApartment&) = delete;
    ComApartment& operator=(const ComApartment&) = delete;

    // CoInitializeEx's answer: S_OK or S_FALSE (joined), RPC_E_CHANGED_MODE (the thread keeps
    // the apartment it had), or another failure (no apartment).
    HRESULT result() const { return result_; }

private:
    HRESULT result_;
};

// A worker for COM calls that have no time-out of their own, in the given apartment model
// (COINIT_MULTITHREADED for the system's services; COINIT_APARTMENTTHREADED for the agent's
// apartment-threaded in-process servers, which then live on the worker itself and are called
// there without marshalling through a thread that is waiting). The objects made on it are used
// and released there only.
std::shared_ptr<BoundedCaller> MakeComWorker(DWORD model);

template <typename Interface>
struct ComPointerTraits {
    using Handle = Interface*;
    static void Close(Handle pointer) noexcept { pointer->Release(); }
    static bool IsValid(Handle pointer) noexcept { return pointer != nullptr; }
};
template <typename Interface>
using UniqueCom = UniqueHandle<ComPointerTraits<Interface>>;

struct BstrTraits {
    using Handle = BSTR;
    static void Close(Handle text) noexcept { ::SysFreeString(text); }
    static bool IsValid(Handle text) noexcept { return text != nullptr; }
};
using UniqueBstr = UniqueHandle<BstrTraits>;

// A VARIANT that holds a value of its own (a BSTR, an interface, an array), cleared by
// VariantClear. Zero-filled, it is VT_EMPTY, as VariantInit leaves it.
struct VariantTraits {
    using Handle = VARIANT;
    static void Close(Handle value) noexcept { ::VariantClear(&value); }
    static bool IsValid(const Handle& value) noexcept { return value.vt != VT_EMPTY; }
};
using UniqueVariant = UniqueHandle<VariantTraits>;

// Sets the blanket of a proxy to a service in another process: Windows authentication, packet
// integrity for each call, and the impersonation level given (the process's default is
// "identify"; a service that acts for the program, as WMI's providers do, needs "impersonate").
// E_NOINTERFACE, an object of this process that no proxy stands for, counts as done: its own
// calls do not take the process's COM defaults.
HRESULT SetProxyImpersonation(IUnknown* object, DWORD impersonationLevel);

// Text in code page `codePage` to UTF-16 and back. Characters the target cannot hold become
// the code page's default character.
std::wstring ToWide(const std::string& text, UINT codePage = CP_ACP);
std::string FromWide(const wchar_t* text, int length = -1, UINT codePage = CP_ACP);

// A BSTR of the text (active code page), and a BSTR's text (empty for a null one).
UniqueBstr BstrOf(const std::string& text);
std::string TextOfBstr(BSTR text);

}  // namespace platform::win32

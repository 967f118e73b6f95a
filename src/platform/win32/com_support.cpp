#include "platform/win32/com_support.h"

#include <cwchar>

namespace platform::win32 {

HRESULT SetProxyImpersonation(IUnknown* object, DWORD impersonationLevel) {
    const HRESULT result =
        ::CoSetProxyBlanket(object, RPC_C_AUTHN_WINNT, RPC_C_AUTHZ_NONE, nullptr,
                            RPC_C_AUTHN_LEVEL_CALL, impersonationLevel, nullptr, EOAC_NONE);
    return result == E_NOINTERFACE ? S_OK : result;
}

std::wstring ToWide(const std::string& text, UINT codePage) {
    if (text.empty()) return {};
    const int length =
        ::MultiByteToWideChar(codePage, 0, text.data(), static_cast<int>(text.size()), nullptr, 0);
    std::wstring wide(static_cast<std::size_t>(length), L'\0');
    ::MultiByteToWideChar(codePage, 0, text.data(), static_cast<int>(text.size()), wide.data(),
                          length);
    return wide;
}

std::string FromWide(const wchar_t* text, int length, UINT codePage) {
    if (!text) return {};
    if (length < 0) length = static_cast<int>(std::wcslen(text));
    if (length == 0) return {};
    const int size = ::WideCharToMultiByte(codePage, 0, text, length, nullptr, 0, nullptr, nullptr);
    std::string result(static_cast<std::size_t>(size), '\0');
    ::WideCharToMultiByte(codePage, 0, text, length, result.data(), size, nullptr, nullptr);
    return result;
}

std::shared_ptr<BoundedCaller> MakeComWorker(DWORD model) {
    auto joined = std::make_shared<bool>(false);
    return std::make_shared<BoundedCaller>(
        [joined, model] { *joined = SUCCEEDED(::CoInitializeEx(nullptr, model)); },
        [joined] {
            if (*joined) ::CoUninitialize();
        });
}

UniqueBstr BstrOf(const std::string& text) {
    const std::wstring wide = ToWide(text);
    return UniqueBstr(::SysAllocStringLen(wide.c_str(), static_cast<UINT>(wide.size())));
}

std::string TextOfBstr(BSTR text) {
    return text ? FromWide(text, static_cast<int>(::SysStringLen(text))) : std::string();
}

}  // namespace platform::win32

// Clock facet: the local clock, the tick count, and the system's own regional date and time texts.
#include <string>

#include "platform/win32/win32_facets.h"
#include "platform/win32/windows_include.h"

namespace platform::win32 {
namespace {

SystemTime FromWin(const SYSTEMTIME& st) {
    SystemTime time;
    time.year = st.wYear;
    time.month = st.wMonth;
    time.dayOfWeek = st.wDayOfWeek;
    time.day = st.wDay;
    time.hour = st.wHour;
    time.minute = st.wMinute;
    time.second = st.wSecond;
    time.milliseconds = st.wMilliseconds;
    return time;
}

// Out-of-range fields are passed on as they are, truncated to WORD: the formatting functions
// reject an invalid date themselves (ERROR_INVALID_PARAMETER).
SYSTEMTIME ToWin(const SystemTime& time) {
    SYSTEMTIME st{};
    st.wYear = static_cast<WORD>(time.year);
    st.wMonth = static_cast<WORD>(time.month);
    st.wDayOfWeek = static_cast<WORD>(time.dayOfWeek);
    st.wDay = static_cast<WORD>(time.day);
    st.wHour = static_cast<WORD>(time.hour);
    st.wMinute = static_cast<WORD>(time.minute);
    st.wSecond = static_cast<WORD>(time.second);
    st.wMilliseconds = static_cast<WORD>(time.milliseconds);
    return st;
}

// Both formatting functions answer the size needed (NUL included) when asked with no buffer,
// and the characters stored (NUL included) otherwise; 0 is a failure with the last error set.
template <typename Format>
bool FormatText(Format format, std::string* text) {
    const int needed = format(nullptr, 0);
    if (needed <= 0) return false;
    std::string buffer(static_cast<std::size_t>(needed), '\0');
    const int stored = format(buffer.data(), needed);
    if (stored <= 0) return false;
    buffer.resize(static_cast<std::size_t>(stored - 1));
    *text = std::move(buffer);
    return true;
}

class Win32Clock final : public Clock {
public:
    SystemTime GetLocalTime() override {
        SYSTEMTIME st{};
        ::GetLocalTime(&st);
        return FromWin(st);
    }

    std::uint64_t GetTickCount64() override { return ::GetTickCount64(); }

    std::uint64_t GetSystemTimeAsFileTime() override {
        FILETIME now{};
        ::GetSystemTimeAsFileTime(&now);
        return (static_cast<std::uint64_t>(now.dwHighDateTime) << 32) | now.dwLowDateTime;
    }

    bool FileTimeToLocalSystemTime(std::uint64_t fileTime, SystemTime* local) override {
        FILETIME utc{};
        utc.dwLowDateTime = static_cast<::DWORD>(fileTime & 0xFFFFFFFFu);
        utc.dwHighDateTime = static_cast<::DWORD>(fileTime >> 32);
        FILETIME localFileTime{};
        if (!::FileTimeToLocalFileTime(&utc, &localFileTime)) return false;
        SYSTEMTIME st{};
        if (!::FileTimeToSystemTime(&localFileTime, &st)) return false;
        *local = FromWin(st);
        return true;
    }

    bool GetShortDateText(const SystemTime& time, std::string* text) override {
        const SYSTEMTIME st = ToWin(time);
        return FormatText(
            [&st](char* buffer, int size) {
                return ::GetDateFormatA(LOCALE_USER_DEFAULT, DATE_SHORTDATE, &st, nullptr, buffer,
                                        size);
            },
            text);
    }

    bool GetLongTimeText(const SystemTime& time, std::string* text) override {
        const SYSTEMTIME st = ToWin(time);
        return FormatText(
            [&st](char* buffer, int size) {
                return ::GetTimeFormatA(LOCALE_USER_DEFAULT, 0, &st, nullptr, buffer, size);
            },
            text);
    }

    LONG VarDateFromStr(const std::string& text, double* date) override {
        // The ANSI text in the active code page, as the program's other texts, made wide for OLE.
        const int length = ::MultiByteToWideChar(CP_ACP, 0, text.c_str(), -1, nullptr, 0);
        if (length <= 0) return static_cast<LONG>(E_INVALIDARG);
        std::wstring wide(static_cast<std::size_t>(length), L'\0');
        ::MultiByteToWideChar(CP_ACP, 0, text.c_str(), -1, wide.data(), length);
        DATE value = 0;
        const HRESULT result = ::VarDateFromStr(wide.data(), LOCALE_USER_DEFAULT, 0, &value);
        if (SUCCEEDED(result) && date) *date = value;
        return static_cast<LONG>(result);
    }
};

}  // namespace

std::unique_ptr<Clock> MakeWin32Clock() {
    return std::make_unique<Win32Clock>();
}

}  // namespace platform::win32

// Clock facet: local time, tick count, file-time conversion and the regional date and time texts.
#pragma once

#include <cstdint>
#include <string>

#include "platform/types.h"

namespace platform {

inline constexpr LONG kDispTypeMismatch = static_cast<LONG>(0x80020005u);  // DISP_E_TYPEMISMATCH

class Clock {
public:
    virtual ~Clock() = default;

    virtual SystemTime GetLocalTime() = 0;
    virtual std::uint64_t GetTickCount64() = 0;
    // GetSystemTimeAsFileTime: the time now in UTC, as a FILETIME.
    virtual std::uint64_t GetSystemTimeAsFileTime() = 0;
    // FileTimeToLocalFileTime then FileTimeToSystemTime.
    virtual bool FileTimeToLocalSystemTime(std::uint64_t fileTime, SystemTime* local) = 0;
    // GetDateFormatA(LOCALE_USER_DEFAULT, DATE_SHORTDATE) and GetTimeFormatA(LOCALE_USER_DEFAULT,
    // 0): the short date and the long time under the user's regional settings.
    virtual bool GetShortDateText(const SystemTime& time, std::string* text) = 0;
    virtual bool GetLongTimeText(const SystemTime& time, std::string* text) = 0;
    // VarDateFromStr(LOCALE_USER_DEFAULT, no flags): a date text under the user's regional
    // settings as an OLE date (days since 30 December 1899, the time as the fraction). An HRESULT:
    // DISP_E_TYPEMISMATCH when the text is no date.
    virtual LONG VarDateFromStr(const std::string& text, double* date) = 0;
};

}  // namespace platform

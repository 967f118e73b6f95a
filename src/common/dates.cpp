#include "common/dates.h"

#include <cmath>
#include <cstdio>

namespace common {

std::string GeneralDateText(platform::Clock& clock, const platform::SystemTime& time) {
    std::string date;
    if (!clock.GetShortDateText(time, &date)) {
        char buffer[32];
        std::snprintf(buffer, sizeof buffer, "%d/%d/%d", time.month, time.day, time.year);
        date = buffer;
    }
    if (time.hour == 0 && time.minute == 0 && time.second == 0) return date;
    std::string clockText;
    if (!clock.GetLongTimeText(time, &clockText)) {
        char buffer[32];
        std::snprintf(buffer, sizeof buffer, "%d:%02d:%02d", time.hour, time.minute, time.second);
        clockText = buffer;
    }
    return date + " " + clockText;
}

std::string MdyHmsText(const platform::SystemTime& time) {
    char buffer[64];
    std::snprintf(buffer, sizeof buffer, "%d/%d/%d %d:%d:%d", time.month, time.day, time.year,
                  time.hour, time.minute, time.second);
    return buffer;
}

namespace {

// value in decimal, zero-padded to width as printf's "%0<width>d" writes it ("-05" for -5 in 3).
void AppendPadded(std::string& text, int value, std::size_t width) {
    const bool negative = value < 0;
    unsigned long long magnitude = negative ? 0ULL - static_cast<unsigned long long>(value)
                                            : static_cast<unsigned long long>(value);
    char digits[24];
    std::size_t count = 0;
    do {
        digits[count++] = static_cast<char>('0' + magnitude % 10);
        magnitude /= 10;
    } while (magnitude != 0);
    if (negative) text += '-';
    const std::size_t used = count + (negative ? 1 : 0);
    if (used < width) text.append(width - used, '0');
    while (count > 0) text += digits[--count];
}

}  // namespace

// Without formatted output: cheap enough to call for every file of a large folder.
std::string StampText(const platform::SystemTime& time) {
    std::string text;
    text.reserve(20);
    AppendPadded(text, time.year, 4);
    AppendPadded(text, time.month, 2);
    AppendPadded(text, time.day, 2);
    AppendPadded(text, time.hour, 2);
    AppendPadded(text, time.minute, 2);
    AppendPadded(text, time.second, 2);
    return text;
}

std::string PaddedDateText(const platform::SystemTime& time) {
    char buffer[64];
    std::snprintf(buffer, sizeof buffer, "%02d/%02d/%04d %02d:%02d:%02d", time.month, time.day,
                  time.year, time.hour, time.minute, time.second);
    return buffer;
}

namespace {

bool IsLeapYear(int year) {
    return (year % 4 == 0 && year % 100 != 0) || year % 400 == 0;
}

}  // namespace

std::int64_t DaysFromCivil(int year, int month, int day) {
    // Days since 1 March of year 0, shifted to 30 December 1899.
    const std::int64_t y = static_cast<std::int64_t>(year) - (month <= 2 ? 1 : 0);
    const std::int64_t era = (y >= 0 ? y : y - 399) / 400;
    const std::int64_t yearOfEra = y - era * 400;
    const std::int64_t dayOfYear = (153 * (month + (month > 2 ? -3 : 9)) + 2) / 5 + day - 1;
    const std::int64_t dayOfEra = yearOfEra * 365 + yearOfEra / 4 - yearOfEra / 100 + dayOfYear;
    constexpr std::int64_t kDayZero = 693899;  // 30 December 1899 counted the same way
    return era * 146097 + dayOfEra - kDayZero;
}

bool IsValidDate(int year, int month, int day) {
    static constexpr int kDays[] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
    if (month < 1 || month > 12 || day < 1) return false;
    const int last = month == 2 && IsLeapYear(year) ? 29 : kDays[month - 1];
    return day <= last;
}

std::int64_t SecondsOf(const platform::SystemTime& time) {
    return DaysFromCivil(time.year, time.month, time.day) * 86400 + time.hour * 3600 +
           time.minute * 60 + time.second;
}

platform::SystemTime TimeOfSeconds(std::int64_t seconds) {
    std::int64_t days = seconds / 86400;
    std::int64_t rest = seconds % 86400;
    if (rest < 0) {
        rest += 86400;
        --days;
    }
    // DaysFromCivil the other way: days since 1 March of year 0, in eras of 400 years.
    const std::int64_t z = days + 693899;
    const std::int64_t era = (z >= 0 ? z : z - 146096) / 146097;
    const std::int64_t dayOfEra = z - era * 146097;
    const std::int64_t yearOfEra =
        (dayOfEra - dayOfEra / 1460 + dayOfEra / 36524 - dayOfEra / 146096) / 365;
    const std::int64_t dayOfYear = dayOfEra - (365 * yearOfEra + yearOfEra / 4 - yearOfEra / 100);
    const std::int64_t monthFromMarch = (5 * dayOfYear + 2) / 153;
    platform::SystemTime time;
    time.day = static_cast<int>(dayOfYear - (153 * monthFromMarch + 2) / 5 + 1);
    time.month = static_cast<int>(monthFromMarch < 10 ? monthFromMarch + 3 : monthFromMarch - 9);
    time.year = static_cast<int>(yearOfEra + era * 400 + (time.month <= 2 ? 1 : 0));
    time.dayOfWeek = static_cast<int>(((days + 6) % 7 + 7) % 7);  // day zero was a Saturday
    time.hour = static_cast<int>(rest / 3600);
    time.minute = static_cast<int>(rest / 60 % 60);
    time.second = static_cast<int>(rest % 60);
    time.milliseconds = 0;
    return time;
}

std::int64_t SecondsOfOleDate(double date) {
    const double days = std::trunc(date);
    const double fraction = std::fabs(date - days);
    return static_cast<std::int64_t>(days) * 86400 +
           static_cast<std::int64_t>(std::llround(fraction * 86400.0));
}

double OleDateOf(int year, int month, int day, int hour, int minute, int second) {
    const double days = static_cast<double>(DaysFromCivil(year, month, day));
    const double fraction = (hour * 3600 + minute * 60 + second) / 86400.0;
    // Before day zero the fraction still counts forward from midnight: -1.25 is 29 December
    // 1899 at 06:00.
    return days >= 0 ? days + fraction : days - fraction;
}

std::optional<platform::SystemTime> ReadMdyHmsText(const std::string& text) {
    // Six runs of digits separated by exactly "/", "/", " ", ":", ":".
    static constexpr char kSeparators[] = {'/', '/', ' ', ':', ':'};
    int fields[6] = {};
    std::size_t at = 0;
    for (int field = 0; field < 6; ++field) {
        const std::size_t start = at;
        while (at < text.size() && at - start < 4 && text[at] >= '0' && text[at] <= '9') {
            fields[field] = fields[field] * 10 + (text[at] - '0');
            ++at;
        }
        if (at == start) return std::nullopt;
        if (field < 5) {
            if (at >= text.size() || text[at] != kSeparators[field]) return std::nullopt;
            ++at;
        }
    }
    if (at != text.size()) return std::nullopt;
    platform::SystemTime time;
    time.month = fields[0];
    time.day = fields[1];
    time.year = fields[2];
    time.hour = fields[3];
    time.minute = fields[4];
    time.second = fields[5];
    if (!IsValidDate(time.year, time.month, time.day) || time.year < 100 || time.hour > 23 ||
        time.minute > 59 || time.second > 59) {
        return std::nullopt;
    }
    return time;
}

}  // namespace common

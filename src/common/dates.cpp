#include "common/dates.h"

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

std::string StampText(const platform::SystemTime& time) {
    char buffer[64];
    std::snprintf(buffer, sizeof buffer, "%04d%02d%02d%02d%02d%02d", time.year, time.month,
                  time.day, time.hour, time.minute, time.second);
    return buffer;
}

std::string PaddedDateText(const platform::SystemTime& time) {
    char buffer[64];
    std::snprintf(buffer, sizeof buffer, "%02d/%02d/%04d %02d:%02d:%02d", time.month, time.day,
                  time.year, time.hour, time.minute, time.second);
    return buffer;
}

}  // namespace common

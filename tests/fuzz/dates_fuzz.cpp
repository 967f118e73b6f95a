// The date-time parsers and the WMI date converter over any text. What ReadMdyHmsText accepts is
// a date that exists and reads back from its own text; what ParseUsDateText accepts is a finite
// OLE date of years 100 to 9999; the converted WMI text never escapes a failure, and a converted
// text that reads back gives the time of the WMI text.
#include <fuzzer/FuzzedDataProvider.h>

#include <cmath>
#include <string>

#include "common/dates.h"
#include "fuzz_support.h"
#include "platform/emulated/us_date_text.h"
#include "uptime/uptime.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    FuzzedDataProvider input(data, size);
    const int year = input.ConsumeIntegralInRange(1990, 2100);
    const std::uint64_t ticks = input.ConsumeIntegral<std::uint64_t>();
    const std::string text = input.ConsumeRemainingBytesAsString();

    if (const auto time = common::ReadMdyHmsText(text)) {
        if (!common::IsValidDate(time->year, time->month, time->day) || time->hour > 23 ||
            time->minute > 59 || time->second > 59) {
            fuzzing::Fail("impossible time accepted", text);
        }
        const auto again = common::ReadMdyHmsText(common::MdyHmsText(*time));
        if (!again || common::SecondsOf(*again) != common::SecondsOf(*time)) {
            fuzzing::Fail("own text does not read back", text);
        }
        const auto padded = common::ReadMdyHmsText(common::PaddedDateText(*time));
        if (!padded || common::SecondsOf(*padded) != common::SecondsOf(*time)) {
            fuzzing::Fail("padded text does not read back", text);
        }
    }

    if (const auto date = platform::emulated::ParseUsDateText(text, year)) {
        const double lowest = common::OleDateOf(100, 1, 1, 0, 0, 0);
        const double highest = common::OleDateOf(9999, 12, 31, 23, 59, 59);
        if (!std::isfinite(*date) || *date < lowest || *date > highest + 1) {
            fuzzing::Fail("date out of range accepted", text);
        }
        (void)common::SecondsOfOleDate(*date);
    }

    const std::string converted = uptime::WMIDateStringToDate(fuzzing::Context(), text);
    if (text.size() >= 14 && text.find_first_not_of("0123456789") >= 14) {
        const auto read = common::ReadMdyHmsText(converted);
        const int month = std::stoi(text.substr(4, 2));
        const int day = std::stoi(text.substr(6, 2));
        const int y = std::stoi(text.substr(0, 4));
        const bool exists =
            common::IsValidDate(y, month, day) && std::stoi(text.substr(8, 2)) < 24 &&
            std::stoi(text.substr(10, 2)) < 60 && std::stoi(text.substr(12, 2)) < 60;
        if (exists && y >= 100 &&
            (!read || read->year != y || read->month != month || read->day != day)) {
            fuzzing::Fail("WMI time converted wrongly", text + " -> " + converted);
        }
    }
    if (const auto seconds = uptime::TickSeconds(ticks)) {
        const double exact = static_cast<double>(ticks) / 1000.0;
        if (std::fabs(exact - *seconds) > 0.5)
            fuzzing::Fail("tick seconds off", std::to_string(ticks));
    }
    return 0;
}

#include "web/com_objects.h"

#include "platform/com_types.h"

namespace web {

common::Failure ObjectNotSet() {
    return common::Failure(kObjectNotSet, "Object variable or With block variable not set");
}

common::Failure CannotCreateObject() {
    return common::Failure(kCannotCreateObject, "ActiveX component can't create object");
}

common::Failure AutomationFailure(run::RunContext& ctx, platform::LONG hr,
                                  const std::string& description) {
    if (hr == platform::kDispEUnknownName) {
        return common::Failure(kNoSuchMember, "Object doesn't support this property or method");
    }
    const auto code = static_cast<std::uint32_t>(hr);
    if ((code & 0xFFFF0000u) == 0x800A0000u) {  // FACILITY_CONTROL: the runtime's own numbers
        const long number = static_cast<long>(code & 0xFFFFu);
        return common::Failure(
            number, description.empty() ? common::RuntimeErrorText(number) : description);
    }
    std::string text = description;
    // The system's text for the HRESULT; for a system error wrapped as one, its own text.
    for (const platform::DWORD id :
         {code, (code & 0xFFFF0000u) == 0x80070000u ? code & 0xFFFFu : code}) {
        if (!text.empty()) break;
        char buffer[512] = {};
        const auto length = ctx.platform.system().FormatMessageA(id, buffer, sizeof buffer);
        text.assign(buffer, length);
        while (!text.empty() &&
               (text.back() == '\n' || text.back() == '\r' || text.back() == ' ')) {
            text.pop_back();
        }
    }
    if (text.empty()) text = "Automation error";
    return common::Failure(hr, text);
}

}  // namespace web

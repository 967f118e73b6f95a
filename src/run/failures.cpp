#include "run/failures.h"

#include "platform/com_types.h"

namespace run {

std::string SystemMessage(RunContext& ctx, platform::DWORD id, platform::DWORD size) {
    return SystemMessage(ctx.platform.system(), id, size);
}

std::string SystemMessage(platform::System& system, platform::DWORD id, platform::DWORD size) {
    char buffer[512] = {};
    const platform::DWORD count = system.FormatMessageA(
        id, buffer, size < sizeof buffer ? size : static_cast<platform::DWORD>(sizeof buffer));
    std::string text(buffer, count);
    while (!text.empty() && (text.back() == '\n' || text.back() == '\r')) text.pop_back();
    return text;
}

common::Failure SystemFailure(RunContext& ctx) {
    const platform::DWORD code = ctx.platform.system().GetLastError();
    return common::Failure(static_cast<long>(code), SystemMessage(ctx, code), {}, code);
}

common::Failure ObjectNotSet() {
    return common::Failure(kObjectNotSet, "Object variable or With block variable not set");
}

common::Failure CannotCreateObject() {
    return common::Failure(kCannotCreateObject, "ActiveX component can't create object");
}

common::Failure CannotCreateObject(RunContext& ctx, platform::LONG hr) {
    return hr == platform::kTimeoutHresult ? ComFailure(ctx, hr) : CannotCreateObject();
}

platform::DWORD StepBound(RunContext& ctx, const platform::Deadline& deadline,
                          platform::DWORD stepMs) {
    const platform::DWORD bound = deadline.Cut(stepMs);
    if (bound == 0) throw ComFailure(ctx, platform::kTimeoutHresult);
    return bound;
}

common::Failure ComFailure(RunContext& ctx, platform::LONG hr, const std::string& description) {
    if (hr == platform::kDispEUnknownName) {
        return common::Failure(kNoSuchMember, "Object doesn't support this property or method");
    }
    const auto code = static_cast<std::uint32_t>(hr);
    if ((code & 0xFFFF0000u) == 0x800A0000u) {  // FACILITY_CONTROL: the runtime's own numbers
        const long number = static_cast<long>(code & 0xFFFFu);
        return common::Failure(
            number, description.empty() ? common::RuntimeErrorText(number) : description);
    }
    // The system's text without the blanks after it.
    const auto systemText = [&ctx](platform::DWORD id) {
        std::string text = SystemMessage(ctx, id);
        while (!text.empty() &&
               (text.back() == ' ' || text.back() == '\n' || text.back() == '\r')) {
            text.pop_back();
        }
        return text;
    };
    std::string text = description;
    // The system's text for the HRESULT; for a system error wrapped as one, its own text.
    if (text.empty()) text = systemText(code);
    if (text.empty() && (code & 0xFFFF0000u) == 0x80070000u) text = systemText(code & 0xFFFFu);
    if (text.empty()) text = "Automation error";
    return common::Failure(hr, text);
}

Trapped Trap(RunContext& ctx, const std::exception& e) {
    const auto* failure = dynamic_cast<const common::Failure*>(&e);
    const platform::DWORD threadError = ctx.platform.system().GetLastError();
    const unsigned long lastError =
        failure && failure->systemError() ? failure->systemError() : threadError;
    return {std::to_string(common::FailureNumber(e)), common::FailureDescription(e),
            common::FailureSource(e), std::to_string(lastError), std::to_string(threadError)};
}

}  // namespace run

#include "common/failure.h"

namespace common {

std::string RuntimeErrorText(long number) {
    switch (number) {
        case kInvalidCall:
            return "Invalid procedure call or argument";
        case kOverflow:
            return "Overflow";
        case kTypeMismatch:
            return "Type mismatch";
        case kBadFileName:
            return "Bad file name or number";
        case kInvalidUseOfNull:
            return "Invalid use of Null";
        case kFileNotFound:
            return "File not found";
        case kFileAlreadyExists:
            return "File already exists";
        case kInputPastEnd:
            return "Input past end of file";
        case kPermissionDenied:
            return "Permission denied";
        case kPathNotFound:
            return "Path not found";
        default:
            return "Application-defined or object-defined error";
    }
}

void Raise(long number, unsigned long systemError) {
    throw Failure(number, RuntimeErrorText(number), {}, systemError);
}

}  // namespace common

namespace common {

long FailureNumber(const std::exception& e) {
    if (const auto* failure = dynamic_cast<const Failure*>(&e)) return failure->number();
    if (dynamic_cast<const std::bad_alloc*>(&e)) return 7;  // out of memory
    return kInvalidCall;
}

std::string FailureDescription(const std::exception& e) {
    if (const auto* failure = dynamic_cast<const Failure*>(&e)) return failure->description();
    if (dynamic_cast<const std::bad_alloc*>(&e)) return "Out of memory";
    return e.what();
}

std::string FailureSource(const std::exception& e) {
    if (const auto* failure = dynamic_cast<const Failure*>(&e)) return failure->source();
    return {};
}

}  // namespace common

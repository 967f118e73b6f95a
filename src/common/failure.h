// A failure raised by an operation and caught by a procedure's own trap: the number, description
// and source that the trap writes to the activity log. Numbers follow the runtime the program's
// logs have always shown: 5 invalid call, 53 file not found, 58 file already exists, 62 input
// past end of file, 70 permission denied, 76 path not found; system error codes and HRESULTs
// (signed decimal) where a system call failed.
#pragma once

#include <new>
#include <stdexcept>
#include <string>

namespace common {

class Failure : public std::runtime_error {
public:
    Failure(long number, std::string description, std::string source = {},
            unsigned long systemError = 0)
        : std::runtime_error(description),
          number_(number),
          description_(std::move(description)),
          source_(std::move(source)),
          systemError_(systemError) {}

    long number() const { return number_; }
    const std::string& description() const { return description_; }
    const std::string& source() const { return source_; }
    // The system's last-error value of the call that failed, taken when the failure was raised
    // (0 when none was taken): throwing may itself change the thread's last-error value.
    unsigned long systemError() const { return systemError_; }

private:
    long number_;
    std::string description_;
    std::string source_;
    unsigned long systemError_;
};

inline constexpr long kInvalidCall = 5;
inline constexpr long kOverflow = 6;
inline constexpr long kTypeMismatch = 13;
inline constexpr long kBadFileName = 52;
inline constexpr long kFileNotFound = 53;
inline constexpr long kFileAlreadyExists = 58;
inline constexpr long kInputPastEnd = 62;
inline constexpr long kPermissionDenied = 70;
inline constexpr long kPathNotFound = 76;
inline constexpr long kInvalidUseOfNull = 94;

// The runtime's description of one of the numbers above.
std::string RuntimeErrorText(long number);
[[noreturn]] void Raise(long number, unsigned long systemError = 0);

}  // namespace common

namespace common {

// What a trap writes of a caught failure: its number, description and source. A failure that is
// not one of ours (out of memory, say) reads as the runtime's nearest number.
long FailureNumber(const std::exception& e);
std::string FailureDescription(const std::exception& e);
std::string FailureSource(const std::exception& e);

}  // namespace common

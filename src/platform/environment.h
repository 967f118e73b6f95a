// Environment facet: the program's environment variables.
#pragma once

#include <string>

namespace platform {

class Environment {
public:
    virtual ~Environment() = default;

    // GetEnvironmentVariableA: false (ERROR_ENVVAR_NOT_FOUND) when the variable is not set.
    virtual bool GetEnvironmentVariableA(const char* name, std::string* value) = 0;
};

}  // namespace platform

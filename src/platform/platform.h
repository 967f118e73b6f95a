// The bundle of facets through which the program reaches Windows. main builds one: the real
// Win32 implementation on Windows, the emulated host over a machine folder elsewhere.
#pragma once

#include "platform/clock.h"
#include "platform/components.h"
#include "platform/environment.h"
#include "platform/files.h"
#include "platform/http.h"
#include "platform/power.h"
#include "platform/process.h"
#include "platform/profile.h"
#include "platform/registry.h"
#include "platform/self.h"
#include "platform/session.h"
#include "platform/system.h"
#include "platform/tasks.h"
#include "platform/wmi.h"
#include "platform/xml.h"

namespace platform {

class Platform {
public:
    virtual ~Platform() = default;

    virtual Registry& registry() = 0;
    virtual Profile& profile() = 0;
    virtual Files& files() = 0;
    virtual Processes& processes() = 0;
    virtual Clock& clock() = 0;
    virtual Environment& environment() = 0;
    virtual Self& self() = 0;
    virtual Session& session() = 0;
    virtual System& system() = 0;
    virtual Components& components() = 0;
    virtual Wmi& wmi() = 0;
    virtual Power& power() = 0;
    virtual Tasks& tasks() = 0;
    virtual Http& http() = 0;
    virtual Xml& xml() = 0;
};

}  // namespace platform

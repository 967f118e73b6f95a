// The bundle of facets through which the program reaches Windows. main builds one: the real
// Win32 implementation on Windows, the emulated host over a machine folder elsewhere.
#pragma once

#include <memory>

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

// Every facet of the bundle, in one list: X(Facet, accessor). The bundles (the Win32 one, the
// emulated host, the tests' fault injection) expand it, so that a facet is added in one place.
#define RS_PLATFORM_FACETS(X)   \
    X(Registry, registry)       \
    X(Profile, profile)         \
    X(Files, files)             \
    X(Processes, processes)     \
    X(Clock, clock)             \
    X(Environment, environment) \
    X(Self, self)               \
    X(Session, session)         \
    X(System, system)           \
    X(Components, components)   \
    X(Wmi, wmi)                 \
    X(Power, power)             \
    X(Tasks, tasks)             \
    X(Http, http)               \
    X(Xml, xml)

class Platform {
public:
    virtual ~Platform() = default;

// NOLINTNEXTLINE(bugprone-macro-parentheses): Facet names a type, which takes no parentheses.
#define RS_PLATFORM_FACET_ACCESSOR(Facet, name) virtual Facet& name() = 0;
    RS_PLATFORM_FACETS(RS_PLATFORM_FACET_ACCESSOR)
#undef RS_PLATFORM_FACET_ACCESSOR
};

// A bundle that keeps each facet in a member named after its accessor (registry_, ...), held by
// value or by pointer, gets its accessors with RS_PLATFORM_FACETS(RS_PLATFORM_FACET_MEMBER).
template <class Facet>
Facet& FacetOf(Facet& facet) {
    return facet;
}
template <class Facet>
Facet& FacetOf(std::unique_ptr<Facet>& facet) {
    return *facet;
}
#define RS_PLATFORM_FACET_MEMBER(Facet, name) \
    Facet& name() override {                  \
        return ::platform::FacetOf(name##_);  \
    }

}  // namespace platform

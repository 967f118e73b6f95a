#include "run/failures.h"

#include <gtest/gtest.h>

#include <functional>
#include <new>
#include <stdexcept>
#include <string>

#include "platform/com_types.h"
#include "run_support.h"

namespace {

using testing_support::ContextOn;
using testing_support::TempMachine;

// Every trap writes the same four texts of what it caught, the last error under one rule: the
// value the failure carries when it was raised after a system call, else the thread's.
TEST(Trap, NumberDescriptionSourceAndLastErrorUnderOneRule) {
    struct Case {
        const char* name;
        std::function<void()> raise;
        platform::DWORD threadError;
        struct {
            const char* number;
            const char* description;
            const char* source;
            const char* lastError;  // the thread's own value is always threadError
        } expected;
    };
    const Case cases[] = {
        {"a system failure carries its own last error",
         [] { common::Raise(53, 2); },
         183,
         {"53", "File not found", "", "2"}},
        {"one that carries none gives the thread's",
         [] { common::Raise(5); },
         183,
         {"5", "Invalid procedure call or argument", "", "183"}},
        {"number, description and source as raised",
         [] { throw common::Failure(13579, "lResult : Last Dll Error : 5: ", "lResult", 5); },
         0,
         {"13579", "lResult : Last Dll Error : 5: ", "lResult", "5"}},
        {"out of memory reads as the runtime's 7",
         [] { throw std::bad_alloc(); },
         8,
         {"7", "Out of memory", "", "8"}},
        {"any other exception as an invalid call with its text",
         [] { throw std::runtime_error("bad"); },
         0,
         {"5", "bad", "", "0"}},
    };
    TempMachine machine;
    ContextOn on(machine);
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        try {
            c.raise();
            ADD_FAILURE() << "nothing raised";
        } catch (const std::exception& e) {
            on.ctx().platform.system().SetLastError(c.threadError);
            const run::Trapped failure = run::Trap(on.ctx(), e);
            EXPECT_EQ(failure.number, c.expected.number);
            EXPECT_EQ(failure.description, c.expected.description);
            EXPECT_EQ(failure.source, c.expected.source);
            EXPECT_EQ(failure.lastError, c.expected.lastError);
            EXPECT_EQ(failure.threadError, std::to_string(c.threadError));
        }
    }
}

TEST(SystemMessage, TheTextWithoutItsLineEndOrNothing) {
    TempMachine machine;
    ContextOn on(machine);
    EXPECT_EQ(run::SystemMessage(on.ctx(), 5), "Access is denied.");
    EXPECT_EQ(run::SystemMessage(on.ctx(), 0x80070005u), "Access is denied.");
    // "Access is denied.\r\n" and its NUL need 20 characters.
    EXPECT_EQ(run::SystemMessage(on.ctx(), 5, 20), "Access is denied.");
    EXPECT_EQ(run::SystemMessage(on.ctx(), 5, 19), "");
    EXPECT_EQ(run::SystemMessage(on.ctx(), 424242), "");
    const common::Failure failure = [&] {
        on.ctx().platform.system().SetLastError(2);
        return run::SystemFailure(on.ctx());
    }();
    EXPECT_EQ(failure.number(), 2);
    EXPECT_EQ(failure.description(), "The system cannot find the file specified.");
    EXPECT_EQ(failure.systemError(), 2u);
}

// The one translation of a failed COM call (agent components, XML DOM, Task Scheduler, WMI).
TEST(ComFailure, HresultAsTheRuntimeReportsIt) {
    struct Case {
        const char* name;
        std::uint32_t hr;
        const char* description;
        long number;
        const char* text;
    };
    const Case cases[] = {
        {"unknown method", 0x80020006u, "", 438, "Object doesn't support this property or method"},
        {"runtime's own number, its text", 0x800A0035u, "", 53, "File not found"},
        {"runtime's own number, the object's text", 0x800A0035u, "Gone", 53, "Gone"},
        {"system error as HRESULT: the system's text", 0x80070005u, "", -2147024891,
         "Access is denied."},
        {"the object's description as it gave it", 0x80070005u, "Refused. ", -2147024891,
         "Refused. "},
        {"no text anywhere", 0x80041002u, "", -2147217406, "Automation error"},
        {"E_FAIL without a text", static_cast<std::uint32_t>(platform::kEFail), "", -2147467259,
         "Automation error"},
    };
    TempMachine machine;
    ContextOn on(machine);
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const common::Failure failure =
            run::ComFailure(on.ctx(), static_cast<platform::LONG>(c.hr), c.description);
        EXPECT_EQ(failure.number(), c.number);
        EXPECT_EQ(failure.description(), c.text);
    }
    EXPECT_EQ(run::ObjectNotSet().number(), 91);
    EXPECT_EQ(run::ObjectNotSet().description(), "Object variable or With block variable not set");
    EXPECT_EQ(run::CannotCreateObject().number(), 429);
    EXPECT_EQ(run::CannotCreateObject().description(), "ActiveX component can't create object");
}

}  // namespace

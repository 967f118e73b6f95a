// The ends of a run. Ending the process throws EndOfRun, which only main (and the test harness)
// catches, so that every owner on the way out still releases what it holds.
#pragma once

namespace run {

// Exit codes, listed in the README.
enum class RunEnd : int {
    Normal = 0,              // CloseAll
    PreviousInstance = 1,    // the platform's previous-instance test
    AgentNotRegistered = 2,  // no registration id or installation folder
    AnotherCopyRunning = 3,  // the process-list guard
    AgentNotConfigured = 4,  // start-up configuration incomplete
    RebootRequested = 5,     // the restart was requested and the run stopped
    RestartRefused = 6,      // the system refused the restart; the reboot state was kept
    RestartNotAnswered = 7,  // the restart request outlived its bound; the marks were kept
    RestartGuarded = 8,      // the restart-loop guard held: no restart was asked for
};

struct EndOfRun {
    RunEnd end;
    int exitCode() const { return static_cast<int>(end); }
};

[[noreturn]] inline void EndProcess(RunEnd end) {
    throw EndOfRun{end};
}

}  // namespace run

// The replay's check of its input, before anything is copied or run (scripts/replay.sh):
//
//   check_capture CAPTURE [--at 'YYYY-MM-DD HH:MM:SS'] [--set Section.Key=Value ...]
//
// Exit 2 with the argument named when --at is no real local time or a --set names no fact of the
// machine-folder format or gives a value not of its kind; exit 3 with one line a problem when
// the capture holds anything else than regular files and folders, exceeds a bound, or holds a
// machine.ini, capture.ini or registry file that does not read; 0 when all is well. The facts and
// their kinds are the emulated host's own list (fact_list.h).
#include <cstdio>
#include <string>
#include <vector>

#include "platform/emulated/fact_list.h"

namespace emulated = platform::emulated;

int main(int argc, char** argv) {
    if (argc < 2) {
        std::fprintf(stderr, "usage: check_capture CAPTURE [--at TIME] [--set S.K=V ...]\n");
        return 2;
    }
    for (int i = 2; i < argc; ++i) {
        const std::string option = argv[i];
        if (i + 1 >= argc || (option != "--at" && option != "--set")) {
            std::fprintf(stderr, "replay: unknown argument '%s'\n", argv[i]);
            return 2;
        }
        const std::string value = argv[++i];
        if (option == "--at" && !emulated::IsLocalTimeText(value)) {
            std::fprintf(stderr,
                         "replay: --at '%s': not a local time 'YYYY-MM-DD HH:MM:SS' that exists\n",
                         value.c_str());
            return 2;
        }
        if (option == "--set") {
            const std::string problem = emulated::WhatIfProblem(value);
            if (!problem.empty()) {
                std::fprintf(stderr, "replay: --set '%s': %s\n", value.c_str(), problem.c_str());
                return 2;
            }
        }
    }
    const std::vector<std::string> problems = emulated::MachineFolderProblems(argv[1]);
    for (const std::string& problem : problems) {
        std::fprintf(stderr, "replay: %s/%s\n", argv[1], problem.c_str());
    }
    return problems.empty() ? 0 : 3;
}

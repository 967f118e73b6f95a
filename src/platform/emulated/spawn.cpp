// The command-line splitting the emulated host shares; starting a program is the host's own
// (spawn_posix.cpp, src/platform/win32/emulation/spawn_windows.cpp).
#include "platform/emulated/spawn.h"

namespace platform::emulated {

std::vector<std::string> SplitCommandLine(const std::string& text) {
    std::vector<std::string> arguments;
    std::size_t i = 0;
    while (true) {
        while (i < text.size() && (text[i] == ' ' || text[i] == '\t')) ++i;
        if (i >= text.size()) break;
        std::string argument;
        bool quoted = false;
        while (i < text.size() && (quoted || (text[i] != ' ' && text[i] != '\t'))) {
            if (text[i] == '\\') {
                std::size_t slashes = 0;
                while (i < text.size() && text[i] == '\\') {
                    ++slashes;
                    ++i;
                }
                if (i < text.size() && text[i] == '"') {
                    argument.append(slashes / 2, '\\');
                    if (slashes % 2 == 1) {
                        argument += '"';
                        ++i;
                    }
                } else {
                    argument.append(slashes, '\\');
                }
                continue;
            }
            if (text[i] == '"') {
                // Inside quotes, a doubled quote stands for one quote.
                if (quoted && i + 1 < text.size() && text[i + 1] == '"') {
                    argument += '"';
                    i += 2;
                    continue;
                }
                quoted = !quoted;
                ++i;
                continue;
            }
            argument += text[i++];
        }
        arguments.push_back(std::move(argument));
    }
    return arguments;
}

}  // namespace platform::emulated

/* Stand-in for the agent's patch program: it records that it ran, with its arguments, by
 * appending one line to "<its own name>.runs" beside itself (Quillon.runs for Quillon.exe), and
 * ends with exit code 0. It assesses nothing. */
#include <stdio.h>
#include <string.h>

#include "../common/standin.h"

int main(int argc, char** argv) {
    char folder[4096];
    char stem[512];
    if (standin_self(folder, sizeof folder, stem, sizeof stem) != 0) return 2;
    char line[8192];
    int used = snprintf(line, sizeof line, "%s ran with %d argument(s)", stem, argc - 1);
    for (int i = 1; i < argc && used > 0 && (size_t)used < sizeof line; ++i) {
        used += snprintf(line + used, sizeof line - (size_t)used, " [%s]", argv[i]);
    }
    char runs[4700];
    char name[600];
    snprintf(name, sizeof name, "%s.runs", stem);
    standin_join(runs, sizeof runs, folder, name);
    return standin_append_line(runs, line) == 0 ? 0 : 3;
}

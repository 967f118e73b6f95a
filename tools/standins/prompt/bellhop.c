/* Stand-in for the agent's prompt program. It asks nobody anything: what it answers comes from
 * "<its own name>.behaviour" beside it (Bellhop.behaviour for Bellhop.exe), one setting a line:
 *
 *   sleep_ms=<n>                  wait this long before answering
 *   result=<Windows path>         the result file to write its answer into
 *   set=<Section>|<Key>|<Value>   one value for the result file (any number, in order)
 *   exit=<n>                      its exit code (0 when absent)
 *   record=<Windows path>         copy that file's lines, as it finds them, into its runs record
 *                                 (what the prompt program saw of the reboot state)
 *
 * Without a behaviour file, or without result=, it writes no answer. The result file is made the
 * newest ".ini" file of its folder, as an answer written after the scheduler's own files is.
 * Each run appends one line to "<its own name>.runs" beside it: its arguments as the runtime
 * split them, its whole command line (Windows), and its working folder. */
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#ifdef _WIN32
#include <direct.h>
#include <windows.h>
#define getcwd _getcwd
#else
#include <unistd.h>
#endif

#include "../common/standin.h"

static void trim_line_end(char* line) {
    size_t n = strlen(line);
    while (n > 0 && (line[n - 1] == '\n' || line[n - 1] == '\r' || line[n - 1] == ' '))
        line[--n] = '\0';
}

int main(int argc, char** argv) {
    char folder[4096];
    char stem[512];
    if (standin_self(folder, sizeof folder, stem, sizeof stem) != 0) return 2;

    char line[8192];
    int used = snprintf(line, sizeof line, "%s ran args=", stem);
    for (int i = 1; i < argc && used > 0 && (size_t)used < sizeof line; ++i) {
        used += snprintf(line + used, sizeof line - (size_t)used, "[%s]", argv[i]);
    }
    char cwd[4096] = "";
    if (!getcwd(cwd, sizeof cwd)) cwd[0] = '\0';
#ifdef _WIN32
    used += snprintf(line + used, sizeof line - (size_t)used, " cmdline=[%s]", GetCommandLineA());
#endif
    if (used > 0 && (size_t)used < sizeof line) {
        snprintf(line + used, sizeof line - (size_t)used, " folder=[%s]", cwd);
    }
    char name[600];
    char runs[4700];
    snprintf(name, sizeof name, "%s.runs", stem);
    standin_join(runs, sizeof runs, folder, name);
    standin_append_line(runs, line);

    char behaviourPath[4700];
    snprintf(name, sizeof name, "%s.behaviour", stem);
    standin_join(behaviourPath, sizeof behaviourPath, folder, name);
    FILE* behaviour = fopen(behaviourPath, "rb");
    if (!behaviour) return 0;
    char result[4096] = "";
    int exitCode = 0;
    char setting[4096];
    /* The result file is named before the values: settings are read in two passes. */
    while (fgets(setting, sizeof setting, behaviour)) {
        trim_line_end(setting);
        if (strncmp(setting, "sleep_ms=", 9) == 0)
            standin_sleep_ms((unsigned)strtoul(setting + 9, NULL, 10));
        if (strncmp(setting, "result=", 7) == 0)
            standin_local_path(result, sizeof result, setting + 7);
        if (strncmp(setting, "exit=", 5) == 0) exitCode = atoi(setting + 5);
        if (strncmp(setting, "record=", 7) == 0) {
            char seen[4096];
            standin_local_path(seen, sizeof seen, setting + 7);
            FILE* file = fopen(seen, "rb");
            char text[4096];
            while (file && fgets(text, sizeof text, file)) {
                trim_line_end(text);
                char recorded[4200];
                snprintf(recorded, sizeof recorded, "  %s", text);
                standin_append_line(runs, recorded);
            }
            if (file) fclose(file);
        }
    }
    if (result[0] != '\0') {
        rewind(behaviour);
        while (fgets(setting, sizeof setting, behaviour)) {
            trim_line_end(setting);
            if (strncmp(setting, "set=", 4) != 0) continue;
            char* section = setting + 4;
            char* key = strchr(section, '|');
            if (!key) continue;
            *key++ = '\0';
            char* value = strchr(key, '|');
            if (!value) continue;
            *value++ = '\0';
            standin_ini_set(result, section, key, value);
        }
        standin_make_newest(result);
    }
    fclose(behaviour);
    return exitCode;
}

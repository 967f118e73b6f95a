/* Starts a program with the environment a machine folder gives it, and hands back its exit code.
 *
 *   launcher.exe PROGRAM [ARGUMENTS...]
 *
 * Wine builds a process's first environment from the Unix one and then sets the profile
 * variables (ALLUSERSPROFILE, ProgramData, PUBLIC, ...) from its own registry, whatever the Unix
 * side said. A process started by another Windows process inherits its parent's block as it is,
 * so the launcher sets every NAME=VALUE line of RSW_ENVIRONMENT on itself and starts the program.
 * The program's command line is the launcher's own, less the launcher's name, unchanged. */
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <windows.h>

/* The command line after the program's own name and the blanks that follow it, split as the C
 * runtime splits it. */
static char* SkipOwnName(char* p) {
    if (*p == '"') {
        ++p;
        while (*p != '\0' && *p != '"') ++p;
        if (*p == '"') ++p;
    } else {
        while ((unsigned char)*p > ' ') ++p;
    }
    while (*p != '\0' && (unsigned char)*p <= ' ') ++p;
    return p;
}

static void ApplyEnvironment(void) {
    DWORD size = GetEnvironmentVariableA("RSW_ENVIRONMENT", NULL, 0);
    if (size == 0) return;
    char* text = (char*)malloc(size);
    if (text == NULL) return;
    GetEnvironmentVariableA("RSW_ENVIRONMENT", text, size);
    SetEnvironmentVariableA("RSW_ENVIRONMENT", NULL);
    for (char* line = strtok(text, "\n"); line != NULL; line = strtok(NULL, "\n")) {
        char* equals = strchr(line, '=');
        if (equals == NULL || equals == line) continue;
        *equals = '\0';
        SetEnvironmentVariableA(line, equals + 1);
    }
    free(text);
}

int main(void) {
    ApplyEnvironment();
    /* CreateProcess may write into the text it is given: hand it a copy. */
    char* commandLine = _strdup(SkipOwnName(GetCommandLineA()));
    if (commandLine == NULL) return 123;
    if (*commandLine == '\0') {
        fprintf(stderr, "launcher: no program to start\n");
        return 120;
    }
    STARTUPINFOA startup;
    PROCESS_INFORMATION process;
    memset(&startup, 0, sizeof startup);
    startup.cb = sizeof startup;
    if (!CreateProcessA(NULL, commandLine, NULL, NULL, TRUE, 0, NULL, NULL, &startup, &process)) {
        fprintf(stderr, "launcher: cannot start %s (error %lu)\n", commandLine, GetLastError());
        return 121;
    }
    CloseHandle(process.hThread);
    WaitForSingleObject(process.hProcess, INFINITE);
    DWORD exitCode = 122;
    GetExitCodeProcess(process.hProcess, &exitCode);
    CloseHandle(process.hProcess);
    /* Unix keeps eight bits of it: an exception code such as 0xC0000005 would pass for 5. */
    if (exitCode > 255)
        fprintf(stderr, "launcher: the program ended with code 0x%08lX\n", exitCode);
    return (int)exitCode;
}

/* A Windows process that only waits, so that a run sees another program of a given file name in
 * the process list. The copy's file name is the name that shows in the list.
 *
 *   sleeper.exe READY-FILE [SECONDS]
 *
 * Creates READY-FILE (a Windows path) once it runs, then sleeps SECONDS (default 600) and ends,
 * so that a copy nobody stopped cannot outlive its test run by long. */
#include <stdio.h>
#include <stdlib.h>
#include <windows.h>

int main(int argc, char** argv) {
    DWORD seconds = 600;
    if (argc > 2) seconds = (DWORD)strtoul(argv[2], NULL, 10);
    if (argc > 1) {
        HANDLE ready = CreateFileA(argv[1], GENERIC_WRITE, 0, NULL, CREATE_ALWAYS,
                                   FILE_ATTRIBUTE_NORMAL, NULL);
        if (ready == INVALID_HANDLE_VALUE) {
            fprintf(stderr, "sleeper: cannot create %s (error %lu)\n", argv[1], GetLastError());
            return 1;
        }
        CloseHandle(ready);
    }
    Sleep(seconds * 1000);
    return 0;
}

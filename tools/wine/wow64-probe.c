/* Whether this machine runs a 32-bit Windows program the way agents' machines run the shipping
 * program: as a 32-bit process on 64-bit Windows.
 *
 *   wow64-probe.exe     exit code 0 and "wow64" when IsWow64Process answers TRUE, 1 otherwise
 *
 * Built with the i686 MinGW compiler and started by the 64-bit loader, it runs only where the
 * kernel executes 32-bit code and Wine's 32-bit half is installed. */
#include <stdio.h>
#include <windows.h>

int main(void) {
    BOOL wow64 = FALSE;
    if (!IsWow64Process(GetCurrentProcess(), &wow64)) {
        printf("IsWow64Process failed with error %lu\n", GetLastError());
        return 1;
    }
    printf("%s\n", wow64 ? "wow64" : "not wow64");
    return wow64 ? 0 : 1;
}

/* The second half of the split stand-in cipher library (Windows only): the seed of the keyed
 * transform, in a DLL of its own that lies beside the cipher library and nowhere else. It proves
 * that the program loads the cipher library so that the library's own dependencies are found in
 * its folder. */
#include <stdint.h>

__declspec(dllexport) uint32_t __stdcall CipherKeySeed(void) {
    return 0x5EEDu;
}

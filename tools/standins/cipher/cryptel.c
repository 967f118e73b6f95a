/* Stand-in for the agent's cipher library. The real library is the agent's own; this one only
 * offers the same two exports with the same calling form, so that the program's binding and its
 * handling of the results can be exercised. Its cipher is a keyed byte transform with no security
 * value at all. Each function transforms the buffer in place, length bytes; each undoes the
 * other. */
#include <stdint.h>

#ifdef _WIN32
#define CIPHER_EXPORT __declspec(dllexport)
#define CIPHER_CALL __stdcall
#else
#define CIPHER_EXPORT __attribute__((visibility("default")))
#define CIPHER_CALL
#endif

#ifdef CRYPTEL_SPLIT_KEY
/* The split variant takes its seed from CipherKey.dll, imported: Windows must find that DLL
 * when it loads this one. */
__declspec(dllimport) uint32_t __stdcall CipherKeySeed(void);
#define CIPHER_SEED CipherKeySeed()
#else
#define CIPHER_SEED 0x5EEDu
#endif

#ifdef _WIN32
#include <windows.h>

/* A library whose initialisation never returns, as a broken one may: with the environment
 * variable CRYPTEL_HANG_IN_INIT set, the attach waits for ever, inside the loader's lock. */
BOOL WINAPI DllMain(HINSTANCE instance, DWORD reason, LPVOID reserved) {
    (void)instance;
    (void)reserved;
    if (reason == DLL_PROCESS_ATTACH && GetEnvironmentVariableA("CRYPTEL_HANG_IN_INIT", NULL, 0)) {
        for (;;) Sleep(INFINITE);
    }
    return TRUE;
}
#endif

static unsigned char KeyByte(uint32_t* state) {
    *state = *state * 1103515245u + 12345u;
    return (unsigned char)(*state >> 16);
}

CIPHER_EXPORT int CIPHER_CALL EncryptData(char* buffer, int32_t length) {
    uint32_t state = CIPHER_SEED;
    if (!buffer || length < 0) return 0;
    for (int32_t i = 0; i < length; ++i) {
        const unsigned char b = (unsigned char)buffer[i];
        buffer[i] = (char)(unsigned char)((b ^ KeyByte(&state)) + (unsigned char)(i * 13));
    }
    return 1;
}

CIPHER_EXPORT int CIPHER_CALL DecryptData(char* buffer, int32_t length) {
    uint32_t state = CIPHER_SEED;
    if (!buffer || length < 0) return 0;
    for (int32_t i = 0; i < length; ++i) {
        const unsigned char b = (unsigned char)((unsigned char)buffer[i] - (unsigned char)(i * 13));
        buffer[i] = (char)(b ^ KeyByte(&state));
    }
    return 1;
}

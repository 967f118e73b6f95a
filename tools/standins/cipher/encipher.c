/* Enciphers (or, with -d, deciphers) a file with the stand-in cipher library, for the demo
 * machine and the tests: encipher [-d] INPUT OUTPUT */
#include <stdint.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

int EncryptData(char* buffer, int32_t length);
int DecryptData(char* buffer, int32_t length);

int main(int argc, char** argv) {
    const int decipher = argc == 4 && strcmp(argv[1], "-d") == 0;
    if (argc != 3 + decipher) {
        fprintf(stderr, "usage: encipher [-d] INPUT OUTPUT\n");
        return 2;
    }
    FILE* in = fopen(argv[1 + decipher], "rb");
    if (!in) {
        perror(argv[1 + decipher]);
        return 1;
    }
    char* data = NULL;
    size_t size = 0;
    char chunk[65536];
    size_t got;
    while ((got = fread(chunk, 1, sizeof chunk, in)) > 0) {
        char* grown = realloc(data, size + got);
        if (!grown) {
            fclose(in);
            free(data);
            return 1;
        }
        data = grown;
        memcpy(data + size, chunk, got);
        size += got;
    }
    fclose(in);
    if (size > INT32_MAX) {
        free(data);
        return 1;
    }
    if (decipher) {
        DecryptData(data, (int32_t)size);
    } else {
        EncryptData(data, (int32_t)size);
    }
    FILE* out = fopen(argv[2 + decipher], "wb");
    if (!out || fwrite(data, 1, size, out) != size || fclose(out) != 0) {
        perror(argv[2 + decipher]);
        free(data);
        return 1;
    }
    free(data);
    return 0;
}

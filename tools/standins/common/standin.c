#include "standin.h"

#include <ctype.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <sys/stat.h>
#include <time.h>
#include <utime.h>

#ifdef _WIN32
#include <windows.h>
#define SEPARATOR '\\'
#else
#include <dirent.h>
#include <unistd.h>
#define SEPARATOR '/'
#endif

static void copy_text(char* out, size_t size, const char* text) {
    if (size == 0) return;
    strncpy(out, text, size - 1);
    out[size - 1] = '\0';
}

int standin_self(char* folder, size_t folderSize, char* stem, size_t stemSize) {
    char path[4096];
#ifdef _WIN32
    DWORD count = GetModuleFileNameA(NULL, path, sizeof path);
    if (count == 0 || count >= sizeof path) return -1;
#else
    ssize_t count = readlink("/proc/self/exe", path, sizeof path - 1);
    if (count <= 0) return -1;
    path[count] = '\0';
#endif
    char* slash = strrchr(path, SEPARATOR);
    const char* name = slash ? slash + 1 : path;
    copy_text(stem, stemSize, name);
    char* dot = strrchr(stem, '.');
    if (dot) *dot = '\0';
    if (slash) *slash = '\0';
    copy_text(folder, folderSize, slash ? path : ".");
    return 0;
}

void standin_join(char* out, size_t size, const char* folder, const char* name) {
    snprintf(out, size, "%s%c%s", folder, SEPARATOR, name);
}

int standin_append_line(const char* path, const char* line) {
    FILE* file = fopen(path, "ab");
    if (!file) return -1;
    fprintf(file, "%s\n", line);
    return fclose(file);
}

void standin_local_path(char* out, size_t size, const char* windowsPath) {
#ifdef _WIN32
    copy_text(out, size, windowsPath);
#else
    const char* machine = getenv("REBOOTSCHEDULER_MACHINE");
    const char* rest = windowsPath;
    char drive = 'c';
    if (strlen(rest) >= 2 && rest[1] == ':') {
        drive = (char)tolower((unsigned char)rest[0]);
        rest += 2;
    }
    char current[4096];
    snprintf(current, sizeof current, "%s/drives/%c", machine ? machine : ".", drive);
    while (*rest) {
        while (*rest == '\\' || *rest == '/') ++rest;
        if (!*rest) break;
        char part[1024];
        size_t n = 0;
        while (rest[n] && rest[n] != '\\' && rest[n] != '/' && n < sizeof part - 1) {
            part[n] = rest[n];
            ++n;
        }
        part[n] = '\0';
        rest += n;
        const char* chosen = part;
        char found[1024];
        DIR* dir = opendir(current);
        if (dir) {
            struct dirent* entry;
            while ((entry = readdir(dir)) != NULL) {
                if (strcasecmp(entry->d_name, part) == 0) {
                    copy_text(found, sizeof found, entry->d_name);
                    chosen = found;
                    break;
                }
            }
            closedir(dir);
        }
        size_t length = strlen(current);
        snprintf(current + length, sizeof current - length, "/%s", chosen);
    }
    copy_text(out, size, current);
#endif
}

static char* read_all(const char* path, size_t* length) {
    FILE* file = fopen(path, "rb");
    *length = 0;
    if (!file) return calloc(1, 1);
    fseek(file, 0, SEEK_END);
    long size = ftell(file);
    fseek(file, 0, SEEK_SET);
    char* text = malloc((size_t)(size > 0 ? size : 0) + 1);
    if (!text) {
        fclose(file);
        return NULL;
    }
    *length = fread(text, 1, (size_t)(size > 0 ? size : 0), file);
    text[*length] = '\0';
    fclose(file);
    return text;
}

/* The line from start up to its end, without CR LF, trimmed of blanks. */
static void line_at(const char* start, char* out, size_t size) {
    size_t n = strcspn(start, "\r\n");
    while (n > 0 && (*start == ' ' || *start == '\t')) {
        ++start;
        --n;
    }
    while (n > 0 && (start[n - 1] == ' ' || start[n - 1] == '\t')) --n;
    if (n >= size) n = size - 1;
    memcpy(out, start, n);
    out[n] = '\0';
}

static const char* next_line(const char* at) {
    at += strcspn(at, "\n");
    return *at ? at + 1 : at;
}

int standin_ini_set(const char* path, const char* section, const char* key, const char* value) {
    size_t length = 0;
    char* text = read_all(path, &length);
    if (!text) return -1;
    char header[512];
    snprintf(header, sizeof header, "[%s]", section);
    const char* sectionAt = NULL;
    const char* insertAt = NULL;    /* where a new key line goes */
    const char* replaceFrom = NULL; /* the key's own line, when present */
    const char* replaceTo = NULL;
    char line[2048];
    for (const char* at = text; *at; at = next_line(at)) {
        line_at(at, line, sizeof line);
        if (line[0] == '[') {
            if (sectionAt) break;
            if (strcasecmp(line, header) == 0) {
                sectionAt = at;
                insertAt = next_line(at);
            }
            continue;
        }
        if (!sectionAt) continue;
        if (line[0] != '\0') insertAt = next_line(at);
        const char* equals = strchr(line, '=');
        if (equals) {
            size_t nameLength = (size_t)(equals - line);
            while (nameLength > 0 && line[nameLength - 1] == ' ') --nameLength;
            if (nameLength == strlen(key) && strncasecmp(line, key, nameLength) == 0) {
                replaceFrom = at;
                replaceTo = next_line(at);
                break;
            }
        }
    }
    FILE* file = fopen(path, "wb");
    if (!file) {
        free(text);
        return -1;
    }
    if (replaceFrom) {
        fwrite(text, 1, (size_t)(replaceFrom - text), file);
        fprintf(file, "%s=%s\r\n", key, value);
        fputs(replaceTo, file);
    } else if (sectionAt) {
        fwrite(text, 1, (size_t)(insertAt - text), file);
        if (insertAt > text && insertAt[-1] != '\n') fputs("\r\n", file);
        fprintf(file, "%s=%s\r\n", key, value);
        fputs(insertAt, file);
    } else {
        fputs(text, file);
        if (length > 0 && text[length - 1] != '\n') fputs("\r\n", file);
        fprintf(file, "%s\r\n%s=%s\r\n", header, key, value);
    }
    free(text);
    return fclose(file);
}

void standin_make_newest(const char* path) {
    char folder[4096];
    copy_text(folder, sizeof folder, path);
    char* slash = strrchr(folder, SEPARATOR);
    if (!slash) return;
    const char* own = path + (size_t)(slash - folder) + 1;
    *slash = '\0';
    time_t newest = time(NULL);
#ifdef _WIN32
    char pattern[4200];
    snprintf(pattern, sizeof pattern, "%s\\*.ini", folder);
    WIN32_FIND_DATAA data;
    HANDLE find = FindFirstFileA(pattern, &data);
    if (find != INVALID_HANDLE_VALUE) {
        do {
            if (_stricmp(data.cFileName, own) == 0) continue;
            char other[4400];
            snprintf(other, sizeof other, "%s\\%s", folder, data.cFileName);
            struct stat info;
            if (stat(other, &info) == 0 && info.st_mtime >= newest) newest = info.st_mtime + 1;
        } while (FindNextFileA(find, &data));
        FindClose(find);
    }
#else
    DIR* dir = opendir(folder);
    if (dir) {
        struct dirent* entry;
        while ((entry = readdir(dir)) != NULL) {
            size_t n = strlen(entry->d_name);
            if (n < 4 || strcasecmp(entry->d_name + n - 4, ".ini") != 0) continue;
            if (strcmp(entry->d_name, own) == 0) continue;
            char other[8300];
            snprintf(other, sizeof other, "%s/%s", folder, entry->d_name);
            struct stat info;
            if (stat(other, &info) == 0 && info.st_mtime >= newest) newest = info.st_mtime + 1;
        }
        closedir(dir);
    }
#endif
    struct utimbuf times;
    times.actime = newest;
    times.modtime = newest;
    utime(path, &times);
}

void standin_sleep_ms(unsigned milliseconds) {
#ifdef _WIN32
    Sleep(milliseconds);
#else
    struct timespec pause;
    pause.tv_sec = milliseconds / 1000;
    pause.tv_nsec = (long)(milliseconds % 1000) * 1000000L;
    nanosleep(&pause, NULL);
#endif
}

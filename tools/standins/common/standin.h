/* What the stand-ins for the agent's programs share: where they are, recording that they ran,
 * reading their behaviour file and writing INI values, on Windows and on the emulated host alike.
 *
 * On the emulated host a stand-in runs as a host program whose file lies at a Windows path in a
 * machine folder; REBOOTSCHEDULER_MACHINE names that folder, and Windows paths it is given map
 * into the folder's drives the way the emulated host maps them. */
#ifndef STANDIN_H
#define STANDIN_H

#include <stddef.h>

/* The folder of the running program and its file name without extension ("Bellhop"). */
int standin_self(char* folder, size_t folderSize, char* stem, size_t stemSize);

/* folder + separator + name. */
void standin_join(char* out, size_t size, const char* folder, const char* name);

/* Appends one line (a line end is added) to a file; 0 on success. */
int standin_append_line(const char* path, const char* line);

/* The local file of a Windows path (C:\A\b.ini): the path itself on Windows; on the emulated host
 * <machine>/drives/c/A/b.ini with existing names matched without regard to case. */
void standin_local_path(char* out, size_t size, const char* windowsPath);

/* Sets key=value in [section] of an INI file, creating what is missing (CR LF line ends);
 * 0 on success. */
int standin_ini_set(const char* path, const char* section, const char* key, const char* value);

/* Makes the file's modification time later than that of every other file in its folder whose
 * name ends with ".ini", so that it reads as the newest result file even when the others were
 * written within the same second. */
void standin_make_newest(const char* path);

void standin_sleep_ms(unsigned milliseconds);

#endif

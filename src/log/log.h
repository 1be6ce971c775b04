// The one logger of the process: standard output, or a size-limited log file with one backup.
#pragma once

#include <cstdint>

inline constexpr int LOG_ROTATE_ABOVE = 8192;   // bytes; a larger log is rotated first
inline constexpr int LOG_MESSAGE_SIZE = 4096;   // formatting buffer, limit 4095
inline constexpr int LOG_COPY_READ_SIZE = 1024; // read size of the rotation copy
inline constexpr int LOG_PATH_SIZE = 256;
inline constexpr int LOG_PATH_MAX_LEN = 251; // leaves room for ".bak" and the terminator

void log_to_screen();
void log_to_file();
// Sets the log path and its backup (path + ".bak"). A path longer than 251 characters is
// refused with a note on standard error and the previous paths stay; result 1 or 0.
int log_set_path(const char* path);
void log_printf(const char* format, ...) __attribute__((format(printf, 1, 2)));

// Size in bytes that stat reports, or -1 when stat fails.
int32_t file_size(const char* path);
// Overwrites trailing LF, CR and blanks with terminators, in place.
void trim_line_end(char* text);

// State of the logger, for tests that check rotation and prefixes.
void log_reset_line_start();

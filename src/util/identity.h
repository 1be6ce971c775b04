// The device identity string and the unit type of the board.
#pragma once

#include <cstddef>

inline constexpr const char* UNIT_TYPE_FILE = "/etc/unitType";
inline constexpr const char* UNIT_TYPE_DEFAULT = "pelmor";
inline constexpr const char* VERSION_FILE = "/etc/version";
inline constexpr const char* BUILD_DATE_FILE = "/etc/buildDate";
inline constexpr const char* APP_SOURCE_FILE = "/etc/.appSource";
inline constexpr const char* ETHADDR_KEY = "ethaddr";

// Field buffers of the identity, terminator included.
inline constexpr std::size_t IDENTITY_BUILD_DATE_SIZE = 32;
inline constexpr std::size_t IDENTITY_VERSION_SIZE = 64;
inline constexpr std::size_t IDENTITY_ETHADDR_SIZE = 32;
inline constexpr std::size_t IDENTITY_APP_SOURCE_SIZE = 128;
// The identity without the caller's text is at most this long.
inline constexpr std::size_t IDENTITY_FIXED_MAX = 275;

// "ZuVo<62|64|??>xx<T|R>,<text>,<FPGA version %X>,<version>,<build date>,<ethaddr>,<app source>"
// into out (outSize bytes, terminator included). Result: its length; a string that would not
// fit is refused with a log line, out then holds an empty string and the result is 0.
int device_identity(const char* text, char* out, std::size_t outSize);

// The first line of /etc/unitType without its line end: 1. When it cannot be read, or does not
// fit destSize, the word "pelmor" (as much as fits) and 0.
int unit_type_get(char* dest, std::size_t destSize);

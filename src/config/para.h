// The parameter file reader: "key=value" lines, looked up one key at a time.
#pragma once

#include <cstddef>

inline constexpr const char* PARA_FILE = "/var/obraBi_para";
inline constexpr int PARA_READ_SIZE = 256; // so a line holds at most 255 characters
inline constexpr int PARA_LINE_SIZE = 1024;

// Looks the key up in the file at the (logical) path and copies its value, control bytes
// removed and without a terminator, into dest. At most destSize - 1 bytes are written, so a
// destination cleared beforehand always ends up terminated. Result 1 when the key was found,
// 0 when it was not or the file cannot be opened ("can't open %s!!!" is then logged).
int para_get(const char* path, const char* key, char* dest, std::size_t destSize);

// Appends each of the count source bytes whose value is above 13 to dest; writes at most
// count bytes and no terminator.
void copy_printable(char* dest, const char* src, std::size_t count);

// Small questions about board files: their first line, whether a path exists, whether a file
// holds a text. Paths are the board's (under the simulated board they lie in its directory);
// every copy is bounded by the destination size the caller gives.
#pragma once

#include <cstddef>

// Read size of one line of a command's output or of a file: at most 127 bytes of it.
inline constexpr int PROBE_LINE_SIZE = 128;
// file_contains searches pieces of at most 79 characters: a text that straddles two pieces of
// a longer line is not found.
inline constexpr int PROBE_PIECE_READ_SIZE = 80;
inline constexpr int PROBE_PIECE_BUFFER_SIZE = 256;

// First line of "cat PATH", control bytes (0 to 13) dropped, at most destSize - 1 kept bytes,
// terminated. 1 when a line was read; 0 otherwise, dest then untouched.
int cat_first_line(const char* path, char* dest, std::size_t destSize);
// 1 when the first line that "ls PATH" prints begins with the path itself: an existing file.
// A directory lists its entries instead, so it gives 0 unless an entry's name begins so.
int path_exists(const char* path);
// First line of the file as it is, its line feed included, at most destSize - 1 bytes,
// terminated. 1 when a line was copied; 0 for a missing or empty file, dest then untouched.
int file_first_line(const char* path, char* dest, std::size_t destSize);
// 1 when a piece of the file holds the text, 0 otherwise or when it cannot be opened.
int file_contains(const char* text, const char* path);

// Building shell command lines in fixed buffers, each argument handed over as one word.
#pragma once

#include <cstddef>

// Appends text unchanged to the terminated command in buf. Result 1, or 0 when it does not
// fit; buf is then left terminated and must not be run.
int shell_append_raw(char* buf, std::size_t size, const char* text);
// Appends text as one single-quoted shell word: the command receives it byte for byte,
// whatever quotes, dollars, backquotes, backslashes or semicolons it holds.
int shell_append_word(char* buf, std::size_t size, const char* text);
// The same for a fixed board path, resolved for the board layer first.
int shell_append_path(char* buf, std::size_t size, const char* logicalPath);

// Shell command lines: arguments handed over as single words in fixed buffers, and the
// runner that starts a line through /bin/sh. The hardware seam, the environment reader and
// the board utilities all build on these, so they depend on nothing but the C library.
#pragma once

#include <cstddef>

// Appends text unchanged to the terminated command in buf. Result 1, or 0 when it does not
// fit; buf is then left terminated and must not be run.
int shell_append_raw(char* buf, std::size_t size, const char* text);
// Appends text as one single-quoted shell word: the command receives it byte for byte,
// whatever quotes, dollars, backquotes, backslashes or semicolons it holds.
int shell_append_word(char* buf, std::size_t size, const char* text);
// Length of text once shell_append_word has quoted it.
std::size_t shell_word_length(const char* text);

// The platform's system() without its signal handling: "/bin/sh -c COMMAND" in a child,
// waited for. 1 for a null command, -1 when the child cannot be created or waited for,
// otherwise the raw wait status (exit status 1 gives 0x100; a command the shell cannot find
// gives 127 in the same form).
int run_shell(const char* command);

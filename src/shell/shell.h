// Shell command lines: arguments handed over as single words in fixed buffers, and the
// runners that start a line through /bin/sh. The hardware seam, the environment reader and
// the board utilities all build on these, so they depend on nothing but the C library.
//
// Every command starts as "/bin/sh -c COMMAND" with an empty signal mask and every signal at
// its default action, whatever the starting thread blocks or ignores (the bridge holds
// SIGUSR1 blocked during its start-up), and inherits no descriptor of the process but the
// standard ones: everything else the process opens is close-on-exec.
#pragma once

#include <cstddef>
#include <cstdio>
#include <sys/types.h>

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

// Starts COMMAND and returns at once. With output non-null the command's standard output is a
// pipe, whose reading end (close-on-exec) is stored in *output. Result: the child's pid, or -1
// with errno set.
pid_t shell_spawn(const char* command, int* output);
// Waits for a child of shell_spawn, again after EINTR: its raw wait status, or -1.
int shell_wait(pid_t child);
// popen(command, mode) on shell_spawn: a stream of the command's standard output, or nullptr.
// Commands are only read: a mode that does not start with "r" gives nullptr with EINVAL. Up to
// SHELL_STREAMS streams are open at once.
inline constexpr int SHELL_STREAMS = 8;
FILE* shell_popen(const char* command, const char* mode);
// Closes a stream of shell_popen and waits for its command: the raw wait status, or -1 (also
// for a stream that shell_popen did not give).
int shell_pclose(FILE* stream);

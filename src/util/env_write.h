// Writing the board's environment stores through their command-line tools, and committing
// them to flash.
//
// Each writer runs one command line: the tool, the key and the value, each handed to the tool
// as exactly one argument whatever characters it holds. A line that does not fit the writer's
// buffer is refused with a log line and result 0; otherwise the result is 1 whatever the tool
// makes of it. The writers do not mark the readers' dump files stale.
#pragma once

#include <cstddef>
#include <cstdint>

inline constexpr const char* ENV_SET_TOOL = "/usr/local/bin/env.s";    // the main store
inline constexpr const char* ENVFD_SET_TOOL = "/usr/local/bin/env.fs"; // the second store
inline constexpr const char* ENV_COMMIT_TOOL = "/usr/local/bin/env.u";
// Whole command line with its terminator: every writer but env_set_str, and env_set_str.
inline constexpr std::size_t ENV_SET_COMMAND_SIZE = 256;
inline constexpr std::size_t ENV_SET_STR_COMMAND_SIZE = 3000;

int env_set_bare(const char* key);
int env_set_hex(const char* key, uint32_t value);
int env_set_int(const char* key, int32_t value);
int env_set_str(const char* key, const char* value);
int envfd_set_hex(const char* key, uint32_t value);
int envfd_set_int(const char* key, int32_t value);
int envfd_set_str(const char* key, const char* value);

// Has env.u write the stores to flash, one commit at a time within the process: while
// another thread commits, "fail to pthread_mutex_trylock for flash" is logged and the call
// tries again a second later, for as long as it takes. Result 0.
int env_commit();

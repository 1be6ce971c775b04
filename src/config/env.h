// Reading the board's environment stores through their command-line tools.
//
// A lookup either asks the tool for one key (direct query) or searches a listing of the
// whole store that is saved once into a dump file under /tmp (cached dump). Every lookup
// takes the size of its destination: a value that does not fit is refused, never cut.
#pragma once

#include <cstddef>

inline constexpr const char* ENV_MAIN_TOOL = "/usr/local/bin/env.d";
inline constexpr const char* ENV_SECOND_TOOL = "/usr/local/bin/env.fd";
inline constexpr int ENV_LINE_SIZE = 3000;
inline constexpr int ENVFD_DIRECT_LINE_SIZE = 128;
inline constexpr int ENV_VALUE_SIZE = 256;
inline constexpr int ENV_PATH_SIZE = 256;

void env_init(int mode);

int env_get(const char* key, char* dest, std::size_t destSize);
int env_get_cached(const char* key, char* dest, std::size_t destSize);
int env_get_direct(const char* key, char* dest, std::size_t destSize);
int env_equals(const char* key, const char* text);
int env_equals_cached(const char* key, const char* text);
int env_equals_direct(const char* key, const char* text);
int envfd_get(const char* key, char* dest, std::size_t destSize);
int envfd_get_cached(const char* key, char* dest, std::size_t destSize);
int envfd_get_direct(const char* key, char* dest, std::size_t destSize);

// Reader state, for tests.
int env_access_mode();
const char* env_dump_path_main();
const char* env_dump_path_second();

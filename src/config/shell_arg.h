// A fixed board path as one word of a shell command line.
#pragma once

#include "shell/shell.h"

#include <cstddef>

// Appends the path, resolved for the board layer first, as one single-quoted shell word.
int shell_append_path(char* buf, std::size_t size, const char* logicalPath);

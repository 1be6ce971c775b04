// Name resolution of one host to the text of its first address.
#pragma once

#include <cstddef>

inline constexpr std::size_t RESOLVE_TEXT_SIZE = 100;

// Resolves the host name (IPv4 or IPv6) and copies the text of its first address into dest,
// logging "IPv%d address: %s (%s)" with the canonical name. 0 on success; -1 when resolution
// fails (reported on standard error under the label "getaddrinfo") or the text does not fit
// destSize (logged; dest then untouched).
int resolve_host(const char* name, char* dest, std::size_t destSize);

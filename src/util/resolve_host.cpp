// resolve_host: getaddrinfo, the first result only.
#include "util/resolve_host.h"

#include "log/log.h"

#include <arpa/inet.h>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <netdb.h>
#include <netinet/in.h>
#include <sys/socket.h>

int resolve_host(const char* name, char* dest, std::size_t destSize) {
    addrinfo hints{};
    hints.ai_flags = AI_CANONNAME;
    hints.ai_family = AF_UNSPEC;
    hints.ai_socktype = SOCK_STREAM;
    addrinfo* result = nullptr;
    int rc = getaddrinfo(name, nullptr, &hints, &result);
    if (rc != 0) {
        // getaddrinfo reports through its own codes, not errno.
        std::fprintf(stderr, "getaddrinfo: %s\n",
                     rc == EAI_SYSTEM ? std::strerror(errno) : gai_strerror(rc));
        return -1;
    }
    char text[RESOLVE_TEXT_SIZE] = {};
    const addrinfo* first = result;
    int version = first->ai_family == AF_INET6 ? 6 : 4;
    if (first->ai_family == AF_INET6) {
        sockaddr_in6 a{};
        std::memcpy(&a, first->ai_addr, sizeof a);
        inet_ntop(AF_INET6, &a.sin6_addr, text, sizeof text);
    } else if (first->ai_family == AF_INET) {
        sockaddr_in a{};
        std::memcpy(&a, first->ai_addr, sizeof a);
        inet_ntop(AF_INET, &a.sin_addr, text, sizeof text);
    }
    std::size_t len = std::strlen(text);
    if (len + 1 > destSize) {
        log_printf("address %s of %s does not fit %u bytes\n", text, name,
                   static_cast<unsigned>(destSize));
        freeaddrinfo(result);
        return -1;
    }
    std::memcpy(dest, text, len + 1);
    log_printf("IPv%d address: %s (%s)\n", version, text,
               first->ai_canonname != nullptr ? first->ai_canonname : name);
    freeaddrinfo(result);
    return 0;
}

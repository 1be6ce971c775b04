// main's record of the configured addresses and both UDP directions, alive for the process.
#pragma once

#include "net/udp_link.h"

#include <pthread.h>

inline constexpr int PARAM_TEXT_SIZE = 256;
inline constexpr int INTERCOMM_VALUE_SIZE = 32;

struct bridge_params {
    pthread_t txThreadId{};
    char intercommValue[INTERCOMM_VALUE_SIZE];
    udp_link txLink;
    udp_link rxLink;
    char progName[PARAM_TEXT_SIZE];
    char outDest[PARAM_TEXT_SIZE];
    char outSrc[PARAM_TEXT_SIZE];
    char inDest[PARAM_TEXT_SIZE];
    char inSrc[PARAM_TEXT_SIZE];
    char waitValue[PARAM_TEXT_SIZE];
};

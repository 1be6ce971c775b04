// The device models of the simulated board, one per device node under R/dev.
#pragma once

#include "sim/sim.h"

extern const sim_device sim_dev_mem;

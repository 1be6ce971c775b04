// MAX9850 DAC set-up over I2C.
#include "board/max9850.h"

int max9850I2cAddr = MAX9850_ADDR_DEFAULT;

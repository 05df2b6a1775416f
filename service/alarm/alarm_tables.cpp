// Which event sets each alarm bit.
#include "service/alarm/alarm_state.h"

const uint8_t MIBV4_SET_EVENT[30] = {1,  3,  5,  7,  9,  11, 13, 15, 17, 18, 19, 21, 23, 25, 27,
                                     29, 31, 33, 35, 37, 39, 41, 43, 45, 48, 50, 52, 54, 56, 58};
const uint8_t MIBV5_SET_EVENT[26] = {1,  3,  5,  7,  9,  11, 13, 14, 15, 17, 19, 21, 24,
                                     26, 28, 30, 32, 34, 36, 38, 40, 42, 44, 46, 48, 50};

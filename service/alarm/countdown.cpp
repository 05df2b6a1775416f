// Shutdown conditions and countdowns. Until they are built nothing is aggregated.
#include "service/alarm/countdown.h"

void status_aggregate() {}
void shutdown_countdown_tick(uint32_t) {}
void shutdown_cancel_toggle() {}

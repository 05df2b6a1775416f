// Shutdown conditions and countdowns.
#pragma once
#include <cstdint>

// The one-second aggregation of the sources' alarm words into the five conditions.
void status_aggregate();
// Runs the countdowns down by the seconds elapsed.
void shutdown_countdown_tick(uint32_t elapsed);
// Toggles the shutdown-cancelled flag.
void shutdown_cancel_toggle();

// Login sessions, challenges, tokens and the login lock.
#pragma once
#include <cstdint>

// Counts down the login locks by the given seconds (every 5 s).
void sess_lock_tick(uint32_t seconds);

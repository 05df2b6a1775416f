// Login sessions. Until they are built, the lock countdown is the only entry and does nothing.
#include "service/web/session.h"

void sess_lock_tick(uint32_t) {}

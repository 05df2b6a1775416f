// Shutdown actions, the other scheduled actions, and the VMware scripts.
#pragma once
#include <cstdint>

void shutdown_request();
void action_execute(uint8_t kind);

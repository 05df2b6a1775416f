// Shutdown actions. Until they are built no action is carried out.
#include "service/alarm/shutdown_actions.h"

void shutdown_request() {}
void action_execute(uint8_t) {}

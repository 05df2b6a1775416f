// Trap receiver. Until it is built its table holds operations that do nothing.
#include "service/snmp/trap_receiver.h"

TrapReceiverApiTable TrapReceiverApi;

static int trap_close_nothing() { return 0; }
static void trap_open_nothing() {}
static uint32_t trap_poll_nothing(uint8_t*) { return 0; }
static void trap_forward_nothing(const uint8_t*) {}

void trap_init() {
  TrapReceiverApi = TrapReceiverApiTable{trap_close_nothing, trap_open_nothing, trap_poll_nothing, trap_forward_nothing};
}

// Trap forwarding: every accepted trap (TrapState) is built afresh and sent to each target of
// ForwardTrapList in the version it came in: SNMPv1 as a Trap-PDU, SNMPv2c as an SNMPv2-Trap with
// the source's community, SNMPv3 as an SNMPv2-Trap of the same user under this service's own
// engine id, boots and time. Also sends the device page's simulated traps (scheduler kind 22).
#pragma once
#include <cstdint>

enum : uint32_t {
  TRAP_FORWARD_BUFFER = 1024,   // largest forwarded message
};

// Picks the agent address for the sender's socket address (null: none) and sends the forward.
void trap_forward(const uint8_t* sender);
// Builds the forward of TrapState with the agent address (4 or 16 bytes) and sends it to every
// target. Nothing happens without targets or without a source.
void trap_forward_send(const uint8_t* agent_address, uint32_t address_length);
// Writes the forward message at the start of buffer; *length holds the room on entry and the
// message's size on return. 1, or 0 when it cannot be built (no such SNMPv3 user, a needed pass
// phrase is empty, an SNMPv1 trap with a 16-byte agent address, or it does not fit).
int trap_encode_forward(const char* community, const uint8_t* agent_address, uint32_t address_length,
                        uint8_t* buffer, uint32_t* length);
// The forwarding keys of UsmSettings user `user` localised to the engine id (cached: made only
// when the pass phrase or engine id changed). 1 when every key the user's level needs is there.
int trap_localize_forward_keys(uint32_t user, const uint8_t* engine_id, uint32_t engine_id_length);

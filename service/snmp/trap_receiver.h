// Trap receiver: listens on the trap port (IPv4 and IPv6 UDP) for traps of the listed UPS cards,
// checks each one (source, community or SNMPv3 user, digest and privacy), turns an accepted trap
// into TrapState and hands each one on to the forwarder and the alarm engine.
// Everything runs on the service's loop thread.
#pragma once
#include <cstdint>

struct TrapReceiverApiTable {
  int (*trap_close)();                            // 0: closes the four sockets; 0
  void (*trap_open)();                            // 1: opens whatever socket is closed
  uint32_t (*trap_poll)(uint8_t sender[28]);      // 2: number of traps accepted
  void (*trap_forward)(const uint8_t* sender);    // 3: forwards TrapState, sender or null
};

extern TrapReceiverApiTable TrapReceiverApi;

enum : uint32_t {
  TRAP_DATAGRAM_MAX = 2048,   // bytes read of one datagram; the rest of a longer one is cut
  TRAP_MESSAGES_MAX = 10,     // messages read of one datagram
  TRAP_KEY_CACHE_SIZE = 32,   // localised SNMPv3 key pairs kept, by user and engine id
  TRAP_POLL_BUDGET_MS = 20,   // longest a poll reads one listener
  TRAP_RECEIVE_BUFFER = 4 << 20,   // kernel queue asked for each listener
};

// Bit 0 once the IPv4 listener has been bound, bit 1 once the IPv6 listener has; never cleared.
extern uint8_t g_trap_open_bits;
// Called after each accepted trap is forwarded, in the order the traps came (the alarm engine in
// the service); null for none. TrapState holds the trap during the call.
extern void (*g_trap_process)();
// Pass phrases localised so far (each costs 1 MiB of MD5); the key cache keeps it low.
extern uint32_t g_trap_key_localisations;

// The wall clock in seconds (clock_unix_seconds); tests drive it. It times the notices of refused
// traps and the engine clocks of SNMPv3 senders.
extern int64_t (*g_trap_clock)();

// Refused traps (source not listed, wrong community, unknown user, wrong digest, decryption
// failed, security level too low) are counted; the poll logs at most one line a minute with the
// last one's reason and sender and the count since the previous line.
//
// For each SNMPv3 sender engine the highest boots, the engine time last taken and the wall-clock
// second it came are kept in snmp_trap_engines.txt of the installation folder (one line
// "<engine id hex> <boots> <time> <second>" each). An authenticated trap with a lower boots, or the
// same boots and an engine time more than 150 s behind what the sender's clock shows now, is
// refused as a replay and logged once a minute per sender; it is not counted as refused above.

// Resets TrapState and the refusal count, reads the sender engines' file and fills
// TrapReceiverApi; opens nothing.
// Test hook: when the environment variable VELLMAR_TRAP_TRACE names a file here, the poll appends
// one line per accepted trap to it:
//   "accepted version=<v> source=<i> group=<g> generic=<g> specific=<s>"
void trap_init();

// The sending socket of the family (2 or 23) for the forwarder, -1 while closed.
int trap_send_socket(uint16_t family);

// Sets the decoder's source index to the first SourceIpList entry whose address text is the
// given 4-byte (IPv4) or 16-byte (IPv6) address, or -1; 1 when one was found.
int trap_match_source(const uint8_t* address, uint32_t length);

// Decodes one message (the rest of the datagram from its first byte) for the source that
// trap_match_source found last. *consumed := size of the outer SEQUENCE once it is read (2 for an
// empty or indefinite-length one; 0 when it cannot be read, which ends the datagram). The message is changed in place (authentication
// parameters zeroed, an encrypted PDU decrypted). Returns 1 when the trap is accepted: TrapState
// and g_trap_enterprise_tail then hold it. A rejected trap changes neither.
int trap_decode(uint8_t* message, uint32_t length, uint32_t* consumed);

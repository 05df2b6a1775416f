// The last accepted trap, written by the trap receiver (and the device page's simulated power
// events) and read by the alarm engine and the forwarder.
#pragma once
#include <cstdint>

#include "service/snmp/ber.h"

enum : uint16_t {
  TRAP_OCTETS_MAX = 16,   // room of each octet-string buffer of the record but msg_flags (1)
};

struct TrapStateRecord {
  int32_t version;           // message version: 0 SNMPv1, 1 SNMPv2c, 3 SNMPv3
  int32_t source_index;      // SourceIpList entry of the trap, -1 none
  int32_t trap_group;        // 0 MIBv4, 1 MIBv5, 2 Sensor
  int32_t generic_trap;      // 0 cold start, 1 warm start, 6 enterprise-specific
  int32_t specific_trap;     // event number within the group, 1-based
  int32_t msg_id;            // SNMPv3 msgID, low 16 bits
  int32_t security_model;    // SNMPv3 msgSecurityModel as received
  SnmpOctets msg_flags;      // 1 byte: bit 0 authentication, bit 1 privacy, bit 2 reportable
  SnmpOctets engine_id;      // msgAuthoritativeEngineID, at most 16 bytes kept
  SnmpOctets auth_params;    // 0 or 12 bytes
  SnmpOctets user_name;      // at most 16 bytes kept
  SnmpOctets priv_params;    // 0 or 8 bytes: the DES salt
};

extern TrapStateRecord TrapState;
// The two sub-identifiers after 1.3.6.1.4.1.7342.2 of the last trap of that subtree (4 and 20 at start).
extern uint32_t g_trap_enterprise_tail[2];

// Points the octet strings at their buffers, msg_flags length 1, every other length 0.
void trap_state_reset();
// Copies every field of src into dst; the octet strings go into dst's own buffers, cut to their
// room (1 byte for msg_flags, TRAP_OCTETS_MAX for the others). dst's pointers are not changed.
void trap_state_copy(TrapStateRecord* dst, const TrapStateRecord* src);

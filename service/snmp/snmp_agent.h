// SNMP agent engine: the agent's UDP sockets (IPv4 and IPv6), the decoding of SNMPv1 and SNMPv3
// requests with their access and user-based security checks, the processing of the varbinds
// through one variable handler, and the encoding of the answer. One message is handled at a time,
// on the service's loop thread, in the static record g_snmp_request.
#pragma once
#include <cstddef>
#include <cstdint>

#include "platform/window.h"
#include "service/snmp/ber.h"

typedef int (*SnmpVarHandler)(SnmpVarBind* binding);

struct SnmpAgentApiTable {
  void (*snmp_agent_close)();                 // 0: closes both sockets
  void (*snmp_agent_open)();                  // 1: opens whatever socket is closed
  void (*snmp_agent_poll)();                  // 2: one pass over both sockets (the fallback of the notification)
  void (*snmp_usm_localize_keys)();           // 3: localises every user's keys
  int (*snmp_mib_register)(const char* oid_text, int id);  // 4: 1 registered or already there
  int (*snmp_mib_unregister)(const char* oid_text);        // 5: 1 removed
  // 6: the id of the identifier, 0xFFFFFFFF when it is not registered
  uint32_t (*snmp_mib_find)(const uint32_t* oid, uint32_t count);
  // 7: the id of the first identifier after oid, copied into out/out_count; 0xFFFFFFFF at the end
  uint32_t (*snmp_mib_find_next)(const uint32_t* oid, uint32_t count, uint32_t* out, uint32_t* out_count);
};

extern SnmpAgentApiTable SnmpAgentApi;

enum : uint32_t {
  SNMP_AGENT_DATAGRAM_MAX = 2048,  // receive buffer
  SNMP_AGENT_SEND_MAX = 4096,      // send buffer
  SNMP_MAX_VARBINDS = 80,
  SNMP_SET_AREA = 128,             // octet-string values of one SetRequest
  SNMP_REQUEST_OCTETS = 16,        // bytes kept of each SNMPv3 octet string
  SNMP_COMMUNITY_KEPT = 33,        // bytes kept of a community
  SNMP_ENGINE_ID_SIZE = 11,        // the agent's engine id
  SNMP_TIME_WINDOW = 150,          // seconds
  SNMP_ENGINE_TIME_WRAP = 32767,
};

enum : uint8_t {
  SNMP_PDU_GET = 0xA0,
  SNMP_PDU_GET_NEXT = 0xA1,
  SNMP_PDU_RESPONSE = 0xA2,
  SNMP_PDU_SET = 0xA3,
  SNMP_PDU_TRAP = 0xA4,
  SNMP_PDU_REPORT = 0xA8,
};

// The message being answered.
struct SnmpRequest {
  int32_t version;           // 0 SNMPv1, 3 SNMPv3
  uint8_t pdu_type;          // 0xA0 Get, 0xA1 GetNext, 0xA3 Set; 0xA2 or 0xA8 once answered
  int32_t request_id;
  int32_t error_status;
  int32_t error_index;
  SnmpOctets community;      // at most SNMP_COMMUNITY_KEPT bytes
  uint16_t community_length; // length as received
  SnmpVarBind varbinds[SNMP_MAX_VARBINDS];
  uint16_t varbind_count;
  uint8_t set_used;          // bytes of the SET value area in use
  // SNMPv3
  int32_t msg_id;
  int32_t msg_max_size;
  SnmpOctets msg_flags;      // exactly 1 byte: bit 0 authentication, bit 1 privacy, bit 2 reportable
  int32_t msg_security_model;
  SnmpOctets msg_engine_id;  // first 16 bytes
  uint16_t msg_engine_id_length;  // length as received
  int32_t msg_engine_boots;
  int32_t msg_engine_time;
  SnmpOctets user_name;      // first 16 bytes
  uint16_t user_name_length;  // length as received
  SnmpOctets auth_params;    // 0 or 12 bytes
  SnmpOctets priv_params;    // 0 or 8 bytes
  SnmpOctets context_engine_id;
  SnmpOctets context_name;   // first 16 bytes
  uint16_t context_name_length;  // length as received
  uint8_t user_index;        // UsmSettings entry in use, 255 none
};

extern SnmpRequest g_snmp_request;
// The agent's engine id, made at snmp_agent_init.
extern uint8_t g_snmp_engine_id[SNMP_ENGINE_ID_SIZE];
// The second context name the agent always accepts beside the configured one.
extern const char kSnmpFixedContext[8];

// Records the handler, starts the engine (engine id, boots from the state file beside agent.ini,
// time 0), localises the users' keys and fills SnmpAgentApi; opens nothing.
void snmp_agent_init(SnmpVarHandler handler);
// Sockets opened from now on notify the window with the message when a datagram waits (null:
// no notification, the poll alone answers).
void snmp_agent_notify_to(WindowHandle window, uint32_t message);
// The socket notification: answers what waits on the agent's socket, as a poll pass does.
void snmp_agent_on_socket(uintptr_t socket, intptr_t event);
// Milliseconds of the time budget of a pass; tests may replace it.
extern uint32_t (*snmp_agent_clock_ms)();
// Registers the service's MIB through SnmpAgentApi; 1 on success.
int snmp_agent_register_mib();
// The variable handler of the service's MIB.
int snmp_agent_mib_handler(SnmpVarBind* binding);

// Builds g_snmp_engine_id from the first adapter of g_local_addresses with a nonzero MAC.
void snmp_build_engine_id();
// The configured context name and its length, read at the moment of the call.
const char* snmp_context_name(uint32_t* length);

// Where the answers of one datagram go.
typedef void (*SnmpAnswerSink)(const uint8_t* answer, uint32_t length, void* context);

// Handles one received datagram as the poll does (the first message of it), from the sender's
// socket address; each answer goes to sink. The datagram is changed in place (digest zeroed,
// PDU decrypted). Returns 0 when an SNMPv1 request was refused, else 1.
int snmp_agent_handle(uint8_t* datagram, uint32_t length, const uint8_t* sender, uint32_t sender_length,
                      SnmpAnswerSink sink, void* context);

// Path of the engine-boots state file beside agent.ini; false when it does not fit.
bool snmp_engine_state_path(char* out, uint32_t room);

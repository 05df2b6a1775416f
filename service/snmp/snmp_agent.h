// SNMP agent engine: the agent's UDP sockets and its operation table.
#pragma once
#include <cstdint>

struct SnmpVarBind;
typedef int (*SnmpVarHandler)(SnmpVarBind* binding);

struct SnmpAgentApiTable {
  void (*snmp_agent_close)();                 // 0: closes both sockets
  void (*snmp_agent_open)();                  // 1: opens whatever socket is closed
  void (*snmp_agent_poll)();                  // 2: one pass over both sockets
  void (*snmp_usm_localize_keys)();           // 3: localises every user's keys
  int (*snmp_mib_register)(const char* oid_text, int id);  // 4
  int (*snmp_mib_unregister)(const char* oid_text);        // 5
  int (*snmp_mib_find)(const uint32_t* oid, uint32_t count);       // 6
  int (*snmp_mib_find_next)(const uint32_t* oid, uint32_t count);  // 7
};

extern SnmpAgentApiTable SnmpAgentApi;

// Records the handler and fills SnmpAgentApi; opens nothing.
void snmp_agent_init(SnmpVarHandler handler);
// Registers the service's MIB through SnmpAgentApi; 1 on success.
int snmp_agent_register_mib();
// The variable handler of the service's MIB.
int snmp_agent_mib_handler(SnmpVarBind* binding);

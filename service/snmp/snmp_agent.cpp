// SNMP agent engine. Until the agent is built its table holds operations that do nothing, so the
// core can call it at every place it will.
#include "service/snmp/snmp_agent.h"

SnmpAgentApiTable SnmpAgentApi;

static void agent_nothing() {}
static int agent_register_nothing(const char*, int) { return 1; }
static int agent_unregister_nothing(const char*) { return 0; }
static int agent_find_nothing(const uint32_t*, uint32_t) { return -1; }

static SnmpVarHandler g_var_handler;

void snmp_agent_init(SnmpVarHandler handler) {
  g_var_handler = handler;
  SnmpAgentApi = SnmpAgentApiTable{agent_nothing,          agent_nothing,           agent_nothing,
                                   agent_nothing,          agent_register_nothing,  agent_unregister_nothing,
                                   agent_find_nothing,     agent_find_nothing};
}

int snmp_agent_register_mib() { return 1; }

int snmp_agent_mib_handler(SnmpVarBind*) { return 0; }

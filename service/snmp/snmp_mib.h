// MIB registry: the registered object identifiers in ascending order, each with the id its
// variable handler acts on; exact and successor lookups. The service's 35 variables and their
// handler are snmp_agent_register_mib and snmp_agent_mib_handler (snmp_agent.h).
#pragma once
#include <cstdint>

enum : uint32_t {
  MIB_OID_MAX = 20,        // sub-identifiers of a registered identifier
  MIB_NODE_MAX = 64,       // identifiers the registry holds
  MIB_NOT_FOUND = 0xFFFFFFFFu,
  AGENT_MIB_COUNT = 35,
};

// One registered identifier.
struct MibNode {
  uint32_t oid[MIB_OID_MAX];
  uint8_t length;
  uint16_t id;             // handler id
  MibNode* prev;
  MibNode* next;
};

// The service's variables: dotted identifier and handler id, in registration order.
struct AgentMibRow {
  const char* oid;
  uint16_t id;
};
extern const AgentMibRow AGENT_MIB_OIDS[AGENT_MIB_COUNT];

// Dotted decimal text into at most MIB_OID_MAX sub-identifiers; their count, 0 for a text
// without a dot.
uint32_t snmp_oid_parse_dotted(const char* text, uint32_t out[MIB_OID_MAX]);
// 1 with *node on an exact match; 0 with *node = the node after which oid belongs (null: head).
int snmp_mib_locate(const uint32_t* oid, uint32_t count, MibNode** node);
int snmp_mib_register(const char* oid_text, int id);
int snmp_mib_unregister(const char* oid_text);
uint32_t snmp_mib_find(const uint32_t* oid, uint32_t count);
uint32_t snmp_mib_find_next(const uint32_t* oid, uint32_t count, uint32_t* out, uint32_t* out_count);
// Empties the registry (for tests).
void snmp_mib_clear();

// A SET's saves: begin before its first varbind is handled (remembers the settings), commit after
// the last one (one save for all). When the save fails, commit puts the settings back as they were
// and returns false; state outside the file (the countdown cancel) stays as set.
void snmp_mib_set_begin();
bool snmp_mib_set_commit();

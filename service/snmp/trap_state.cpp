// The last accepted trap and the enterprise tail of the last trap of the maker's subtree.
// The octet strings point at buffers of this file from the start, so the record can be read
// before trap_state_reset has run.
#include "service/snmp/trap_state.h"

#include <cstring>

namespace {

uint8_t g_msg_flags[1];
uint8_t g_engine_id[TRAP_OCTETS_MAX];
uint8_t g_auth_params[TRAP_OCTETS_MAX];
uint8_t g_user_name[TRAP_OCTETS_MAX];
uint8_t g_priv_params[TRAP_OCTETS_MAX];

void copy_octets(SnmpOctets* dst, const SnmpOctets* src, uint16_t room) {
  uint16_t n = src->length < room ? src->length : room;
  if (n > 0 && src->data != nullptr && dst->data != nullptr) std::memmove(dst->data, src->data, n);
  dst->length = dst->data != nullptr ? n : 0;
}

}  // namespace

TrapStateRecord TrapState = {0,  -1, 0, 0, 0, 0, 0, {g_msg_flags, 1}, {g_engine_id, 0},
                             {g_auth_params, 0}, {g_user_name, 0}, {g_priv_params, 0}};
uint32_t g_trap_enterprise_tail[2] = {4, 20};

void trap_state_reset() {
  TrapState.msg_flags = {g_msg_flags, 1};
  TrapState.engine_id = {g_engine_id, 0};
  TrapState.auth_params = {g_auth_params, 0};
  TrapState.user_name = {g_user_name, 0};
  TrapState.priv_params = {g_priv_params, 0};
}

void trap_state_copy(TrapStateRecord* dst, const TrapStateRecord* src) {
  if (dst == src) return;
  dst->version = src->version;
  dst->source_index = src->source_index;
  dst->trap_group = src->trap_group;
  dst->generic_trap = src->generic_trap;
  dst->specific_trap = src->specific_trap;
  dst->msg_id = src->msg_id;
  dst->security_model = src->security_model;
  copy_octets(&dst->msg_flags, &src->msg_flags, 1);
  copy_octets(&dst->engine_id, &src->engine_id, TRAP_OCTETS_MAX);
  copy_octets(&dst->auth_params, &src->auth_params, TRAP_OCTETS_MAX);
  copy_octets(&dst->user_name, &src->user_name, TRAP_OCTETS_MAX);
  copy_octets(&dst->priv_params, &src->priv_params, TRAP_OCTETS_MAX);
}

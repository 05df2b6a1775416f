// The agent's starting point in its tests: factory settings and status for an installation folder,
// no local addresses, and the agent started over its MIB.
#pragma once
#include <cstring>
#include <string>

#include "common/codec.h"
#include "common/install.h"
#include "common/settings.h"
#include "common/text.h"
#include "service/alarm/status.h"
#include "service/core/net_address.h"
#include "service/snmp/snmp_agent.h"
#include "service/snmp/snmp_mib.h"

// Sets everything but the agent up; the caller adds local addresses, then calls agent_setup_start.
inline void agent_setup_records(const std::string& install_dir) {
  text_copy8(InstallDir, sizeof InstallDir, install_dir.c_str());
  text_utf8_to_utf16(InstallDirW, 260, InstallDir);
  codec_table_init();
  cfg_set_defaults();
  status_reset();
  std::memset(&g_local_addresses, 0, sizeof g_local_addresses);
}

// Starts the agent over its MIB; true when the MIB registered.
inline bool agent_setup_start() {
  snmp_mib_clear();
  snmp_agent_init(snmp_agent_mib_handler);
  return snmp_agent_register_mib() == 1;
}

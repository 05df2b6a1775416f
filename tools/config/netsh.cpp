// This platform's netsh: takes the console's add and delete rule commands for the service program and
// turns them into the firewall rule set that accepts the program's configured ports, read from the
// agent.ini of its folder (the factory ports when there is none). An add is refused when another
// table's input chain drops the packets anyway: that table and chain are named.
#include <cstdio>
#include <cstring>

#include "common/codec.h"
#include "common/settings.h"
#include "common/settings_file.h"
#include "platform/firewall.h"
#include "platform/fs.h"
#include "tools/config/netsh_command.h"

int main(int argc, char** argv) {
  NetshRequest request;
  if (!netsh_parse_arguments(argc, argv, &request)) {
    fprintf(stderr, "netsh: only the add and delete of a program rule are known here.\n");
    return 1;
  }
  bool ok;
  if (request.add) {
    char ini[300];
    snprintf(ini, sizeof ini, "%s/agent.ini", request.folder);
    codec_table_init();
    // Reading never creates the file here: a missing one means the factory ports.
    if (fs_file_exists(ini)) cfg_load(ini);
    else cfg_set_defaults();
    const FirewallPort ports[] = {
        {FIREWALL_UDP, g_snmp_agent.listen_port},
        {FIREWALL_UDP, g_source_ips.listen_port},
        {FIREWALL_TCP, g_settings.http_port},
        {FIREWALL_TCP, g_settings.https_port},
    };
    FirewallBlock block;
    if (firewall_find_block(request.rule_name, &block)) {
      printf("The firewall rule cannot take effect: table %s %s, chain %s drops the packets (%s).\n", block.family,
             block.table, block.chain, block.by_policy ? "policy drop" : "its last rule drops or rejects them");
      ok = false;
    } else {
      ok = firewall_add_rule(request.rule_name, ports, 4);
    }
  } else {
    ok = firewall_delete_rule(request.rule_name);
  }
  if (ok) printf("Ok.\n\n");
  else printf("The firewall rule could not be %s.\n\n", request.add ? "added" : "deleted");
  return ok ? 0 : 1;
}

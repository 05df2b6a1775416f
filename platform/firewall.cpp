// Linux back end of the firewall: nft scripts fed to `nft -f -`, or recorded under simulation.
#include "platform/firewall.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>

#include <unistd.h>

#include "platform/process.h"

static void table_name(char* out, size_t room, const char* rule_name) {
  size_t n = 0;
  for (const char* p = rule_name; *p && n + 1 < room; ++p) {
    char c = *p;
    bool keep = (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9');
    out[n++] = keep ? c : '_';
  }
  out[n] = 0;
  // nft names begin with a letter.
  if (n == 0 || !((out[0] >= 'A' && out[0] <= 'Z') || (out[0] >= 'a' && out[0] <= 'z'))) out[0] = n ? 'r' : 0;
}

// Appends " { a, b }" of the distinct non-zero ports of one protocol; false when there is none.
static bool port_set(char* out, size_t room, uint8_t protocol, const FirewallPort* ports, int count) {
  size_t n = 0;
  int listed = 0;
  for (int i = 0; i < count; ++i) {
    if (ports[i].protocol != protocol || ports[i].port == 0) continue;
    bool seen = false;
    for (int j = 0; j < i; ++j) seen |= ports[j].protocol == protocol && ports[j].port == ports[i].port;
    if (seen) continue;
    int w = snprintf(out + n, room - n, "%s%u", listed ? ", " : "", unsigned(ports[i].port));
    if (w < 0 || size_t(w) >= room - n) return false;
    n += size_t(w);
    ++listed;
  }
  return listed > 0;
}

size_t firewall_script(char* out, size_t room, const char* rule_name, const FirewallPort* ports, int count) {
  char table[64];
  table_name(table, sizeof table, rule_name);
  if (!table[0]) return 0;
  // Adding first makes the delete succeed when the table is not there yet.
  int n = snprintf(out, room, "add table inet %s\ndelete table inet %s\n", table, table);
  if (n < 0 || size_t(n) >= room) return 0;
  if (!ports) return size_t(n);
  int w = snprintf(out + n, room - size_t(n),
                   "table inet %s {\n\tchain input {\n\t\ttype filter hook input priority filter; policy accept;\n",
                   table);
  if (w < 0 || size_t(w) >= room - size_t(n)) return 0;
  n += w;
  const struct {
    uint8_t protocol;
    const char* word;
  } kinds[] = {{FIREWALL_UDP, "udp"}, {FIREWALL_TCP, "tcp"}};
  for (const auto& k : kinds) {
    char set[128];
    if (!port_set(set, sizeof set, k.protocol, ports, count)) continue;
    w = snprintf(out + n, room - size_t(n), "\t\t%s dport { %s } accept\n", k.word, set);
    if (w < 0 || size_t(w) >= room - size_t(n)) return 0;
    n += w;
  }
  w = snprintf(out + n, room - size_t(n), "\t}\n}\n");
  if (w < 0 || size_t(w) >= room - size_t(n)) return 0;
  return size_t(n + w);
}

static const char* find_nft() {
  static const char* const places[] = {"/usr/sbin/nft", "/sbin/nft", "/usr/bin/nft", "/bin/nft"};
  for (const char* p : places)
    if (access(p, X_OK) == 0) return p;
  return nullptr;
}

static bool apply(const char* script) {
  const char* simulate = getenv("VELLMAR_FIREWALL_SIMULATE");
  if (simulate) {
    FILE* f = *simulate ? fopen(simulate, "ae") : nullptr;
    if (!f) return *simulate == 0;
    bool ok = fputs(script, f) >= 0;
    return fclose(f) == 0 && ok;
  }
  if (getenv("VELLMAR_TEST")) return false;
  const char* nft = find_nft();
  if (!nft) {
    printf("nft is not installed; the rule set would be:\n%s", script);
    fflush(stdout);
    return false;
  }
  const char* argv[] = {nft, "-f", "-", nullptr};
  return process_run(argv, script, nullptr, 0) == 0;
}

bool firewall_add_rule(const char* rule_name, const FirewallPort* ports, int count) {
  char script[1024];
  return ports && firewall_script(script, sizeof script, rule_name, ports, count) && apply(script);
}

bool firewall_delete_rule(const char* rule_name) {
  char script[256];
  return firewall_script(script, sizeof script, rule_name, nullptr, 0) && apply(script);
}

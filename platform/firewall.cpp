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
  const char* named = getenv("VELLMAR_FIREWALL_NFT");
  const char* nft = named && *named ? named : nullptr;
  if (!nft && getenv("VELLMAR_TEST")) return false;
  if (!nft) nft = find_nft();
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

// ---- reading the rule set

namespace {

// The nft program that may be run: none under simulation, the named one of the test hook, none
// under VELLMAR_TEST without it, else the installed one.
const char* nft_program() {
  if (getenv("VELLMAR_FIREWALL_SIMULATE")) return nullptr;
  const char* named = getenv("VELLMAR_FIREWALL_NFT");
  if (named && *named) return named;
  if (getenv("VELLMAR_TEST")) return nullptr;
  return find_nft();
}

// Rule sets of firewall managers run to some tens of kilobytes; a longer one is read up to here.
char g_listing[1 << 18];

size_t read_listing() {
  const char* nft = nft_program();
  if (!nft) return 0;
  const char* argv[] = {nft, "list", "ruleset", nullptr};
  if (process_run(argv, nullptr, g_listing, sizeof g_listing) != 0) return 0;
  return strlen(g_listing);
}

struct Word {
  const char* at;
  size_t length;
};

bool word_is(const Word& w, const char* text) { return w.length == strlen(text) && !memcmp(w.at, text, w.length); }

// Splits a line into words at blanks; a quoted text is one word. Returns the number of words.
int split_words(const char* line, size_t length, Word* words, int room) {
  int n = 0;
  size_t i = 0;
  while (i < length) {
    while (i < length && (line[i] == ' ' || line[i] == '\t')) ++i;
    if (i == length) break;
    size_t start = i;
    bool quoted = false;
    while (i < length && (quoted || (line[i] != ' ' && line[i] != '\t'))) {
      if (line[i] == '"') quoted = !quoted;
      ++i;
    }
    if (n == room) return room + 1;
    words[n++] = {line + start, i - start};
  }
  return n;
}

// A rule that drops or rejects whatever reaches it: the verdict, with only counting, logging and a
// comment before or after it.
bool drops_everything(const char* line, size_t length) {
  Word w[32];
  int n = split_words(line, length, w, 32);
  if (n > 32) return false;
  static const char* const kWithValue[] = {"packets", "bytes",   "prefix",          "level",
                                           "flags",   "group",   "snaplen", "queue-threshold", "comment"};
  bool verdict = false;
  for (int i = 0; i < n; ++i) {
    if (word_is(w[i], "counter") || word_is(w[i], "log")) continue;
    bool valued = false;
    for (const char* k : kWithValue) valued |= word_is(w[i], k);
    if (valued) {
      ++i;
      continue;
    }
    if (!verdict && word_is(w[i], "drop")) {
      verdict = true;
      continue;
    }
    if (!verdict && word_is(w[i], "reject")) {
      verdict = true;
      // "reject with icmpx admin-prohibited" and the like
      while (i + 1 < n && !word_is(w[i + 1], "comment")) ++i;
      continue;
    }
    return false;
  }
  return verdict;
}

void copy_word(char* out, size_t room, const Word& w) {
  size_t n = w.length < room - 1 ? w.length : room - 1;
  memcpy(out, w.at, n);
  out[n] = 0;
}

// Brace balance of a line, quoted texts left out.
int brace_balance(const char* line, size_t length) {
  int balance = 0;
  bool quoted = false;
  for (size_t i = 0; i < length; ++i) {
    if (line[i] == '"') quoted = !quoted;
    else if (!quoted && line[i] == '{') ++balance;
    else if (!quoted && line[i] == '}') --balance;
  }
  return balance;
}

bool contains(const char* line, size_t length, const char* text) {
  size_t k = strlen(text);
  for (size_t i = 0; i + k <= length; ++i)
    if (!memcmp(line + i, text, k)) return true;
  return false;
}

}  // namespace

bool firewall_block_in_listing(const char* listing, size_t length, const char* rule_name, FirewallBlock* out) {
  char own[64];
  table_name(own, sizeof own, rule_name);
  char family[8] = "", table[64] = "", chain[64] = "";
  int depth = 0;
  bool in_chain = false, input_hook = false, policy_drop = false, last_drops = false;
  size_t pos = 0;
  while (pos < length) {
    size_t end = pos;
    while (end < length && listing[end] != '\n') ++end;
    const char* line = listing + pos;
    size_t n = end - pos;
    pos = end < length ? end + 1 : end;
    while (n && (*line == ' ' || *line == '\t')) ++line, --n;
    while (n && (line[n - 1] == ' ' || line[n - 1] == '\t' || line[n - 1] == '\r')) --n;
    if (!n) continue;
    Word w[4];
    int words = split_words(line, n, w, 4);
    int balance = brace_balance(line, n);
    if (depth == 0 && words >= 3 && word_is(w[0], "table")) {
      copy_word(family, sizeof family, w[1]);
      copy_word(table, sizeof table, w[2]);
    } else if (depth == 1 && words >= 2 && word_is(w[0], "chain")) {
      in_chain = true;
      input_hook = policy_drop = last_drops = false;
      copy_word(chain, sizeof chain, w[1]);
    } else if (depth == 2 && in_chain && balance == 0 && words >= 1 && word_is(w[0], "type")) {
      input_hook = contains(line, n, " hook input ");
      policy_drop = contains(line, n, "policy drop;");
    } else if (depth == 2 && in_chain && balance >= 0 && !(words == 1 && word_is(w[0], "}"))) {
      // A rule; one that spans lines is never a plain verdict.
      last_drops = balance == 0 && drops_everything(line, n);
    }
    depth += balance;
    if (depth < 0) depth = 0;
    if (in_chain && depth < 2) {
      in_chain = false;
      bool ours = !strcmp(family, "inet") && !strcmp(table, own);
      bool family_sees_input = !strcmp(family, "inet") || !strcmp(family, "ip") || !strcmp(family, "ip6");
      if (input_hook && family_sees_input && !ours && (policy_drop || last_drops)) {
        snprintf(out->family, sizeof out->family, "%s", family);
        snprintf(out->table, sizeof out->table, "%s", table);
        snprintf(out->chain, sizeof out->chain, "%s", chain);
        out->by_policy = policy_drop;
        return true;
      }
    }
  }
  return false;
}

bool firewall_find_block(const char* rule_name, FirewallBlock* out) {
  size_t n = read_listing();
  return n && firewall_block_in_listing(g_listing, n, rule_name, out);
}

bool firewall_rule_present(const char* rule_name) {
  char own[64], line[80];
  table_name(own, sizeof own, rule_name);
  const char* nft = nft_program();
  if (!own[0] || !nft) return false;
  const char* argv[] = {nft, "list", "tables", nullptr};
  if (process_run(argv, nullptr, g_listing, sizeof g_listing) != 0) return false;
  int n = snprintf(line, sizeof line, "table inet %s", own);
  size_t k = size_t(n);
  for (const char* p = g_listing; (p = strstr(p, line)) != nullptr; p += k) {
    bool starts = p == g_listing || p[-1] == '\n';
    if (starts && (p[k] == '\n' || p[k] == 0)) return true;
  }
  return false;
}

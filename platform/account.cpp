// Linux back end of the account look-ups: /proc/net/tcp and tcp6 for the peer's owner, the user
// and group databases for the administrator test.
#include "platform/account.h"

#include <cstdio>
#include <cstring>
#include <vector>

#include <arpa/inet.h>
#include <grp.h>
#include <netinet/in.h>
#include <pwd.h>
#include <sys/socket.h>
#include <unistd.h>

namespace {

// An address and port as the socket tables print them: the address words in memory order, each
// as %08X, then the port in host order.
void table_key(char* out, size_t room, const sockaddr_storage& sa, bool six) {
  uint32_t words[4] = {0, 0, 0, 0};
  uint16_t port = 0;
  if (sa.ss_family == AF_INET) {
    const auto& a = reinterpret_cast<const sockaddr_in&>(sa);
    if (six) {
      const uint8_t mapped[4] = {0, 0, 0xFF, 0xFF};
      std::memcpy(&words[2], mapped, 4);
      std::memcpy(&words[3], &a.sin_addr, 4);
    } else {
      std::memcpy(&words[0], &a.sin_addr, 4);
    }
    port = ntohs(a.sin_port);
  } else {
    const auto& a = reinterpret_cast<const sockaddr_in6&>(sa);
    std::memcpy(words, &a.sin6_addr, 16);
    port = ntohs(a.sin6_port);
  }
  if (six) std::snprintf(out, room, "%08X%08X%08X%08X:%04X", words[0], words[1], words[2], words[3], port);
  else std::snprintf(out, room, "%08X:%04X", words[0], port);
}

// The uid of the table row whose local end is `local` and remote end is `remote`.
bool find_owner(const char* table, const char* local, const char* remote, uint32_t* uid) {
  FILE* f = std::fopen(table, "r");
  if (f == nullptr) return false;
  char line[512];
  bool found = false;
  if (std::fgets(line, sizeof line, f) != nullptr) {   // the heading
    while (!found && std::fgets(line, sizeof line, f) != nullptr) {
      char l[64], r[64];
      unsigned state = 0, owner = 0;
      // sl local rem st tx:rx tr:when retrnsmt uid
      if (std::sscanf(line, " %*s %63s %63s %x %*s %*s %*s %u", l, r, &state, &owner) != 4) continue;
      if (strcasecmp(l, local) == 0 && strcasecmp(r, remote) == 0) {
        *uid = owner;
        found = true;
      }
    }
  }
  std::fclose(f);
  return found;
}

}  // namespace

bool account_peer_user(int s, uint32_t* uid) {
  sockaddr_storage mine, peer;
  socklen_t n = sizeof mine, m = sizeof peer;
  if (getsockname(s, reinterpret_cast<sockaddr*>(&mine), &n) != 0 ||
      getpeername(s, reinterpret_cast<sockaddr*>(&peer), &m) != 0 || mine.ss_family != peer.ss_family)
    return false;
  // The peer's own row names its end as local and ours as remote.
  char local[64], remote[64];
  if (peer.ss_family == AF_INET) {
    table_key(local, sizeof local, peer, false);
    table_key(remote, sizeof remote, mine, false);
    if (find_owner("/proc/net/tcp", local, remote, uid)) return true;
    // A client of an IPv6 socket reaches an IPv4 listener through a mapped address.
    table_key(local, sizeof local, peer, true);
    table_key(remote, sizeof remote, mine, true);
    return find_owner("/proc/net/tcp6", local, remote, uid);
  }
  if (peer.ss_family != AF_INET6) return false;
  table_key(local, sizeof local, peer, true);
  table_key(remote, sizeof remote, mine, true);
  return find_owner("/proc/net/tcp6", local, remote, uid);
}

bool account_is_administrator(uint32_t uid) {
  if (uid == 0) return true;
  long size = sysconf(_SC_GETPW_R_SIZE_MAX);
  std::vector<char> buffer(size > 0 ? size_t(size) : 16384);
  passwd pw, *user = nullptr;
  if (getpwuid_r(uid, &pw, buffer.data(), buffer.size(), &user) != 0 || user == nullptr) return false;
  std::vector<char> group_buffer(16384);
  group gr, *sudo = nullptr;
  if (getgrnam_r("sudo", &gr, group_buffer.data(), group_buffer.size(), &sudo) != 0 || sudo == nullptr) return false;
  if (user->pw_gid == sudo->gr_gid) return true;
  int count = 64;
  std::vector<gid_t> groups(static_cast<size_t>(count));
  if (getgrouplist(user->pw_name, user->pw_gid, groups.data(), &count) < 0) {
    groups.resize(size_t(count));
    if (getgrouplist(user->pw_name, user->pw_gid, groups.data(), &count) < 0) return false;
  }
  for (int i = 0; i < count; ++i)
    if (groups[size_t(i)] == sudo->gr_gid) return true;
  return false;
}

uint32_t account_current_user() { return uint32_t(getuid()); }

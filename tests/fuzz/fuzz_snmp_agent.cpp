// Fuzzes the SNMP agent's handling of one datagram (decoding, security checks, varbind
// processing through the service's MIB, and the answer) from 127.0.0.1. Each input runs three
// times: as it is; with its digest made right by the harness; and with its encrypted PDU first
// encrypted by the harness, so mutated plaintext gets past the digest and privacy checks.
// Users: "manager" (auth and privacy, read-write), "signer" (auth), "viewer" (none, read only).
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <filesystem>

#include "common/codec.h"
#include "common/install.h"
#include "common/settings.h"
#include "common/text.h"
#include "platform/inet.h"
#include "service/alarm/status.h"
#include "service/core/net_address.h"
#include "service/snmp/ber.h"
#include "service/snmp/snmp_agent.h"
#include "service/snmp/snmp_mib.h"
#include "service/snmp/usm.h"

namespace {

const uint8_t kMac[6] = {0x02, 0x11, 0x22, 0x33, 0x44, 0x55};
uint8_t g_sender[INET_SOCKADDR_MAX];
uint32_t g_sender_length;

char g_folder[] = "/tmp/vellmar-fuzz-agent-XXXXXX";   // the agent's installation folder

void remove_folder() {
  std::error_code ec;
  std::filesystem::remove_all(g_folder, ec);
}

void setup() {
  char* folder = mkdtemp(g_folder);
  if (folder == nullptr) std::abort();
  std::atexit(remove_folder);
  text_copy8(InstallDir, sizeof InstallDir, folder);
  text_utf8_to_utf16(InstallDirW, 260, InstallDir);
  codec_table_init();
  cfg_set_defaults();
  status_reset();
  g_snmp_agent.count = 2;
  text_copy8(g_snmp_agent.ip[1], 52, "127.0.0.1");
  text_copy8(g_snmp_agent.community[1], 17, "rwcomm");
  g_snmp_agent.permission[1] = 2;
  g_usm.count = 3;
  const char* users[] = {"manager", "signer", "viewer"};
  const uint8_t levels[] = {2, 1, 0};
  const char* auth[] = {"mq472816", "signpass1", ""};
  const char* priv[] = {"hv305749", "", ""};
  const uint8_t permissions[] = {2, 2, 1};
  for (int i = 0; i < 3; ++i) {
    text_copy8(g_usm.user[i], 17, users[i]);
    g_usm.security[i] = levels[i];
    text_copy8(g_usm.auth[i], 17, auth[i]);
    text_copy8(g_usm.priv[i], 17, priv[i]);
    g_usm.permission[i] = permissions[i];
  }
  g_local_addresses.count = 1;
  inet_make_sockaddr(g_local_addresses.entries[0].sockaddr, LOCAL_SOCKADDR_SIZE, INET_FAMILY_IPV4,
                     reinterpret_cast<const uint8_t*>("\x0a\x00\x00\x01"), 0, 0);
  std::memcpy(g_local_addresses.entries[0].mac, kMac, 6);
  snmp_agent_init(snmp_agent_mib_handler);
  if (!snmp_agent_register_mib()) std::abort();
  static const uint8_t kLoopback[4] = {127, 0, 0, 1};
  g_sender_length = inet_make_sockaddr(g_sender, sizeof g_sender, INET_FAMILY_IPV4, kLoopback, 40000, 0);
}

// Where the harness writes: the digest and the encrypted PDU of the message.
struct Layout {
  uint32_t size;         // bytes of the outer SEQUENCE
  int user;              // UsmSettings entry named, -1 none
  uint8_t* auth;         // the 12 authentication bytes, or null
  uint8_t* cipher;       // the encrypted PDU's content, or null
  size_t cipher_length;
  uint8_t salt[8];
};

bool locate(uint8_t* data, size_t size, Layout* out) {
  std::memset(out, 0, sizeof *out);
  out->user = -1;
  BerReader all = ber_reader(data, size), msg, global, wrapped, security, auth;
  if (!ber_read_inner(&all, BER_SEQUENCE, &msg, BER_NOT_EMPTY)) return false;
  out->size = uint32_t(all.pos - data);
  int32_t value = 0;
  uint8_t user[32];
  SnmpOctets u = {user, 0};
  uint16_t user_length = 0;
  if (!ber_read_integer(&msg, BER_INTEGER, &value, BER_NOT_EMPTY) || value != 3 ||
      !ber_read_inner(&msg, BER_SEQUENCE, &global, BER_NOT_EMPTY) ||
      !ber_read_inner(&msg, BER_OCTET_STRING, &wrapped, BER_NOT_EMPTY) ||
      !ber_read_inner(&wrapped, BER_SEQUENCE, &security, BER_NOT_EMPTY) ||
      !ber_read_inner(&security, BER_OCTET_STRING, &auth, BER_MAY_BE_EMPTY) ||   // engine id
      !ber_read_integer(&security, BER_INTEGER, &value, BER_MAY_BE_EMPTY) ||
      !ber_read_integer(&security, BER_INTEGER, &value, BER_MAY_BE_EMPTY) ||
      !ber_read_octets(&security, BER_OCTET_STRING, &u, 32, &user_length, BER_MAY_BE_EMPTY) ||
      !ber_read_inner(&security, BER_OCTET_STRING, &auth, BER_MAY_BE_EMPTY))
    return false;
  for (int i = 0; i < 3; ++i)
    if (user_length == std::strlen(g_usm.user[i]) && std::memcmp(user, g_usm.user[i], user_length) == 0) out->user = i;
  if (ber_reader_left(&auth) == 12) out->auth = data + (auth.pos - data);
  SnmpOctets salt = {out->salt, 0};
  uint16_t salt_length = 0;
  BerReader cipher;
  if (ber_read_octets(&security, BER_OCTET_STRING, &salt, 8, &salt_length, BER_MAY_BE_EMPTY) && salt_length == 8 &&
      ber_read_inner(&msg, BER_OCTET_STRING, &cipher, BER_NOT_EMPTY)) {
    out->cipher = data + (cipher.pos - data);
    out->cipher_length = ber_reader_left(&cipher);
  }
  return true;
}

void ignore_answer(const uint8_t* answer, uint32_t length, void*) {
  if (length == 0 || length > SNMP_AGENT_SEND_MAX || answer[0] != BER_SEQUENCE) std::abort();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  static bool ready = false;
  if (!ready) {
    setup();
    ready = true;
  }
  if (size > SNMP_AGENT_DATAGRAM_MAX) size = SNMP_AGENT_DATAGRAM_MAX;
  for (int variant = 0; variant < 3; ++variant) {
    g_snmp_agent.engine_boots = 1;
    g_snmp_agent.engine_time = 0;
    // A heap copy of exactly the input's size, so a read past it is caught.
    uint8_t* copy = static_cast<uint8_t*>(std::malloc(size ? size : 1));
    if (copy == nullptr) return 0;
    if (size) std::memcpy(copy, data, size);
    Layout l;
    if (variant > 0 && (!locate(copy, size, &l) || l.user < 0)) {
      std::free(copy);
      break;
    }
    uint32_t u = uint32_t(l.user);
    if (variant == 2 && l.cipher != nullptr && l.cipher_length % 8 == 0) {
      const uint8_t* key = usm_local_key(u, true, g_snmp_engine_id, SNMP_ENGINE_ID_SIZE);
      if (key != nullptr) usm_encrypt(l.cipher, l.cipher_length, key, l.salt);
    }
    if (variant > 0 && l.auth != nullptr) {
      const uint8_t* key = usm_local_key(u, false, g_snmp_engine_id, SNMP_ENGINE_ID_SIZE);
      if (key != nullptr) {
        std::memset(l.auth, 0, 12);
        usm_sign(copy, l.size, key, l.auth);
      }
    }
    snmp_agent_handle(copy, uint32_t(size), g_sender, g_sender_length, ignore_answer, nullptr);
    if (g_snmp_request.varbind_count > SNMP_MAX_VARBINDS) std::abort();
    std::free(copy);
  }
  return 0;
}

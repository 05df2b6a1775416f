// CPU time of the trap receiver per accepted trap: trap_decode (with the source match the poll
// does first) on prepared datagrams captured from snmptrap: SNMPv1, SNMPv2c, and SNMPv3 authPriv
// with its keys cached, and for comparison SNMPv3 authPriv whose keys are localised on every
// trap (41 engines in turn, more than the key cache holds).
#include <benchmark/benchmark.h>

#include <cstring>
#include <vector>

#include "common/cipher.h"
#include "common/digest.h"
#include "common/settings.h"
#include "common/text.h"
#include "service/snmp/trap_receiver.h"
#include "service/snmp/trap_state.h"
#include "support/ber_build.h"
#include "support/captured_traps.h"

namespace {



void configure() {
  cfg_set_defaults();
  g_source_ips.count = 1;
  text_copy8(g_source_ips.ip[0], 52, "127.0.0.1");
  text_copy8(g_source_ips.community[0], 17, "public");
  g_usm.count = 1;
  text_copy8(g_usm.user[0], 17, "upsuser");
  g_usm.security[0] = 2;
  text_copy8(g_usm.auth[0], 17, "authpass1");
  text_copy8(g_usm.priv[0], 17, "privpass1");
  trap_init();
}

void decode_loop(benchmark::State& state, const std::vector<Bytes>& datagrams) {
  configure();
  static const uint8_t sender[4] = {127, 0, 0, 1};
  uint8_t buffer[TRAP_DATAGRAM_MAX];
  size_t next = 0;
  int64_t accepted = 0;
  for (auto _ : state) {
    const Bytes& d = datagrams[next];
    next = (next + 1) % datagrams.size();
    std::memcpy(buffer, d.data(), d.size());
    trap_match_source(sender, 4);
    uint32_t used = 0;
    accepted += trap_decode(buffer, uint32_t(d.size()), &used);
    benchmark::DoNotOptimize(TrapState.specific_trap);
  }
  if (accepted != int64_t(state.iterations())) state.SkipWithError("a trap was refused");
  state.SetItemsProcessed(accepted);
}

Bytes bytes(const uint8_t* p, size_t n) { return Bytes(p, p + n); }

// ---- An SNMPv3 authPriv trap for a given engine id ----

Bytes v3_trap(const Bytes& engine) {
  const Bytes trap_oid = {0x2B, 6, 1, 4, 1, 0xB9, 0x2E, 2, 4, 20, 3, 0};
  Bytes pdu = tlv(0xA7, cat({integer(1), integer(0), integer(0),
                             seq({seq({tlv(0x06, {0x2B, 6, 1, 2, 1, 1, 3, 0}), tlv(0x43, {1})}),
                                  seq({tlv(0x06, {0x2B, 6, 1, 6, 3, 1, 1, 4, 1, 0}), tlv(0x06, trap_oid)})})}));
  Bytes scoped = seq({tlv(0x04, engine), tlv(0x04, {}), pdu});
  while (scoped.size() % 8) scoped.push_back(0);
  Md5Context ctx;
  uint8_t auth_key[16], priv_key[16];
  usm_password_to_key_md5(&ctx, auth_key, reinterpret_cast<const uint8_t*>("authpass1"), 9, engine.data(),
                          uint16_t(engine.size()));
  usm_password_to_key_md5(&ctx, priv_key, reinterpret_cast<const uint8_t*>("privpass1"), 9, engine.data(),
                          uint16_t(engine.size()));
  const Bytes salt = {0, 0, 0, 1, 0, 0, 0, 2};
  uint8_t iv[8];
  for (int i = 0; i < 8; ++i) iv[i] = uint8_t(priv_key[8 + i] ^ salt[i]);
  des_cbc_encrypt(scoped.data(), scoped.size(), priv_key, iv);
  Bytes security = seq({tlv(0x04, engine), integer(1), integer(1), octets(std::string("upsuser")), tlv(0x04, Bytes(12, 0)),
                        tlv(0x04, salt)});
  Bytes msg = seq({integer(3), seq({integer(9), tlv(0x02, {0x05, 0xDC}), tlv(0x04, {3}), integer(3)}),
                   tlv(0x04, security), tlv(0x04, scoped)});
  // The 12 zero bytes of the authentication parameters follow the user name.
  size_t at = 0;
  while (!(msg[at] == 0x04 && msg[at + 1] == 12 && msg[at + 2] == 0)) ++at;
  uint8_t digest[16];
  hmac_md5(&ctx, msg.data(), uint16_t(msg.size()), auth_key, digest);
  std::memcpy(msg.data() + at + 2, digest, 12);
  return msg;
}

void BM_TrapV1(benchmark::State& state) {
  decode_loop(state, {bytes(kCaptured_v1_enterprise, sizeof kCaptured_v1_enterprise)});
}
BENCHMARK(BM_TrapV1);

void BM_TrapV2c(benchmark::State& state) {
  decode_loop(state, {bytes(kCaptured_v2c_enterprise, sizeof kCaptured_v2c_enterprise)});
}
BENCHMARK(BM_TrapV2c);

void BM_TrapV3AuthPrivCachedKeys(benchmark::State& state) {
  decode_loop(state, {bytes(kCaptured_v3_authpriv, sizeof kCaptured_v3_authpriv)});
}
BENCHMARK(BM_TrapV3AuthPrivCachedKeys);

void BM_TrapV3AuthPrivFreshKeys(benchmark::State& state) {
  std::vector<Bytes> traps;
  for (uint8_t i = 0; i < TRAP_KEY_CACHE_SIZE + 9; ++i) traps.push_back(v3_trap({0x80, 0x00, 0x1F, 0x88, 0x80, 0x42, i}));
  decode_loop(state, traps);
}
BENCHMARK(BM_TrapV3AuthPrivFreshKeys);

}  // namespace

BENCHMARK_MAIN();

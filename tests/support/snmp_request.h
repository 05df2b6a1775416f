// SNMPv3 requests to the agent for tests and benchmarks: the factory user's authPriv request,
// authenticated and encrypted as its fields say, over the small BER builder.
#pragma once
#include <algorithm>
#include <string>

#include "common/cipher.h"
#include "common/digest.h"
#include "common/settings.h"
#include "support/ber_build.h"

// The agent's engine id when the first adapter's MAC is 02:11:22:33:44:55.
const Bytes kRequestEngine = {0x80, 0x00, 0x1C, 0xAE, 0x03, 0x02, 0x11, 0x22, 0x33, 0x44, 0x55};

inline Bytes localized_key(const std::string& pass, const Bytes& engine = kRequestEngine) {
  uint8_t key[16] = {};
  Md5Context ctx;
  usm_password_to_key_md5(&ctx, key, reinterpret_cast<const uint8_t*>(pass.data()), uint8_t(pass.size()),
                          engine.data(), uint16_t(engine.size()));
  return Bytes(key, key + 16);
}

// An SNMPv3 request, authenticated and encrypted as the fields say.
struct V3Request {
  std::string user = "manager";
  Bytes engine = kRequestEngine;
  uint8_t flags = 3 | 4;
  std::string auth = "mq472816";
  std::string priv = "hv305749";
  Bytes salt = {0, 0, 0, 1, 0, 0, 0, 7};
  int32_t boots = -1;   // -1: the agent's
  int32_t time = -1;
  std::string context = "rt5830";
  Bytes pdu;
  int32_t msg_id = 0x4321;
  bool empty_auth_params = false;
  bool bad_digest = false;
};

inline Bytes build_v3_request(const V3Request& v) {
  Bytes scoped = seq({octets(v.engine), octets(v.context), v.pdu});
  Bytes data = scoped;
  if (v.flags & 2) {
    Bytes key = localized_key(v.priv, v.engine);
    uint8_t iv[8];
    for (int i = 0; i < 8; ++i) iv[i] = uint8_t(key[8 + i] ^ v.salt[size_t(i)]);
    Bytes plain = scoped;
    while (plain.size() % 8) plain.push_back(0);
    des_cbc_encrypt(plain.data(), plain.size(), key.data(), iv);
    data = octets(plain);
  }
  bool auth = (v.flags & 1) && !v.empty_auth_params;
  int32_t boots = v.boots >= 0 ? v.boots : g_snmp_agent.engine_boots;
  int32_t time = v.time >= 0 ? v.time : g_snmp_agent.engine_time;
  Bytes security = seq({octets(v.engine), integer(boots), integer(time), octets(v.user),
                        octets(auth ? Bytes(12, 0) : Bytes{}), octets((v.flags & 2) ? v.salt : Bytes{})});
  Bytes msg = seq({integer(3), seq({integer(v.msg_id), integer(65507), octets(Bytes{v.flags}), integer(3)}),
                   octets(security), data});
  if (auth) {
    const uint8_t marker[14] = {0x04, 0x0C, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0};
    auto at = std::search(msg.begin(), msg.end(), marker, marker + 14);
    if (at == msg.end()) return {};
    Bytes key = localized_key(v.auth, v.engine);
    Md5Context ctx;
    uint8_t digest[16];
    hmac_md5(&ctx, msg.data(), uint16_t(msg.size()), key.data(), digest);
    if (v.bad_digest) digest[3] ^= 0x10;
    std::copy(digest, digest + 12, at + 2);
  }
  return msg;
}


// A small BER encoder that builds SNMP messages for tests and benchmarks.
#pragma once
#include <cstddef>
#include <cstdint>
#include <initializer_list>
#include <string>
#include <vector>

using Bytes = std::vector<uint8_t>;
using Ids = std::vector<uint32_t>;

inline Bytes tlv(uint8_t tag, const Bytes& content) {
  Bytes out{tag};
  size_t n = content.size();
  if (n < 0x80) {
    out.push_back(uint8_t(n));
  } else if (n < 0x100) {
    out.push_back(0x81);
    out.push_back(uint8_t(n));
  } else {
    out.push_back(0x82);
    out.push_back(uint8_t(n >> 8));
    out.push_back(uint8_t(n));
  }
  out.insert(out.end(), content.begin(), content.end());
  return out;
}

inline Bytes cat(std::initializer_list<Bytes> parts) {
  Bytes out;
  for (const Bytes& p : parts) out.insert(out.end(), p.begin(), p.end());
  return out;
}

inline Bytes seq(std::initializer_list<Bytes> parts) { return tlv(0x30, cat(parts)); }
inline Bytes seq_of(const std::vector<Bytes>& parts) {
  Bytes content;
  for (const Bytes& p : parts) content.insert(content.end(), p.begin(), p.end());
  return tlv(0x30, content);
}

inline Bytes integer(int64_t v, uint8_t tag = 0x02) {
  Bytes content;
  int64_t x = v;
  do {
    content.insert(content.begin(), uint8_t(x & 0xFF));
    x >>= 8;
  } while (!((x == 0 && !(content[0] & 0x80)) || (x == -1 && (content[0] & 0x80))));
  return tlv(tag, content);
}

inline Bytes octets(const std::string& s) { return tlv(0x04, Bytes(s.begin(), s.end())); }
inline Bytes octets(const Bytes& b) { return tlv(0x04, b); }

inline Bytes oid(const Ids& ids) {
  Bytes content{uint8_t(40 * ids[0] + ids[1])};
  for (size_t i = 2; i < ids.size(); ++i) {
    uint32_t v = ids[i];
    Bytes groups{uint8_t(v & 0x7F)};
    for (v >>= 7; v; v >>= 7) groups.insert(groups.begin(), uint8_t(0x80 | (v & 0x7F)));
    content.insert(content.end(), groups.begin(), groups.end());
  }
  return tlv(0x06, content);
}

inline Ids operator+(Ids a, const Ids& b) {
  a.insert(a.end(), b.begin(), b.end());
  return a;
}

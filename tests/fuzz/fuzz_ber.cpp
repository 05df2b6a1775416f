// Fuzzes the bounded BER reader and value decoding over arbitrary bytes: every element is
// walked (constructed ones recursively), every value that reads is encoded again and must
// read back the same.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>

#include "service/snmp/ber.h"

namespace {

constexpr uint16_t kOctetRoom = 64;

bool is_constructed(uint8_t tag) { return tag == BER_SEQUENCE || (tag >= 0xA0 && tag <= 0xA8); }

void check(bool condition) {
  if (!condition) std::abort();
}

// Encodes a value that was read and checks that it reads back unchanged.
void round_trip(const SnmpVarBind* vb, uint16_t full_length) {
  static uint8_t out[BER_OID_ENCODED_MAX + kOctetRoom];
  uint16_t n = ber_encode_value(vb, out);
  if (vb->tag == BER_OID && n == 0) return;   // first octet above 127 cannot be written back
  check(n > 0 && n <= sizeof out);

  uint8_t buf[kOctetRoom];
  uint32_t ids[SNMP_OID_MAX];
  SnmpVarBind back = {};
  back.value.octets.data = buf;
  back.value.oid.ids = ids;
  BerReader r = ber_reader(out, n);
  check(ber_read_value(&r, &back, kOctetRoom, SNMP_OID_MAX));
  check(ber_reader_left(&r) == 0);
  check(back.tag == vb->tag);
  switch (vb->tag) {
    case BER_OCTET_STRING:
    case BER_IP_ADDRESS:
      check(back.value.octets.length == vb->value.octets.length);
      check(back.value.octets.length == full_length);
      check(std::memcmp(buf, vb->value.octets.data, back.value.octets.length) == 0);
      break;
    case BER_OID:
      check(back.value.oid.count == vb->value.oid.count);
      check(std::memcmp(ids, vb->value.oid.ids, back.value.oid.count * sizeof(uint32_t)) == 0);
      break;
    case BER_INTEGER:
    case BER_COUNTER32:
    case BER_GAUGE32:
    case BER_TIMETICKS:
      check(back.value.integer == vb->value.integer);
      break;
    default:
      break;
  }
}

void walk(BerReader r, int depth) {
  if (depth > 16) return;
  while (ber_reader_left(&r) > 0) {
    const uint8_t* start = r.pos;
    uint8_t tag = 0;
    uint16_t length = 0;
    BerReader probe = r;
    if (!ber_read_any_header(&probe, &tag, &length)) {
      check(r.pos == start);
      return;
    }
    check(probe.pos + length <= r.end);

    if (is_constructed(tag)) {
      BerReader inner;
      check(ber_read_inner(&r, tag, &inner, BER_MAY_BE_EMPTY));
      check(inner.pos >= start && inner.end <= r.end && inner.end == r.pos);
      walk(inner, depth + 1);
      continue;
    }

    // An OCTET STRING may wrap further elements (SNMPv3 security parameters).
    if (tag == BER_OCTET_STRING) {
      BerReader inner;
      BerReader copy = r;
      if (ber_read_inner(&copy, tag, &inner, BER_MAY_BE_EMPTY)) walk(inner, depth + 1);
    }

    uint8_t buf[kOctetRoom];
    uint32_t ids[SNMP_OID_MAX];
    SnmpVarBind vb = {};
    vb.value.octets.data = buf;
    vb.value.oid.ids = ids;
    if (ber_read_value(&r, &vb, kOctetRoom, SNMP_OID_MAX)) {
      check(r.pos == probe.pos + length);
      round_trip(&vb, length);
      // The raw decoder agrees with the bounded one on the same content.
      SnmpVarBind raw = {};
      uint8_t raw_buf[kOctetRoom];
      uint32_t raw_ids[SNMP_OID_MAX];
      raw.tag = vb.tag;
      raw.value.octets.data = raw_buf;
      raw.value.oid.ids = raw_ids;
      if (vb.tag != BER_OCTET_STRING && vb.tag != BER_IP_ADDRESS && length <= 4)
        check(ber_decode_value(probe.pos, &raw, length));
      continue;
    }
    check(r.pos == start);

    // Not a value of the set (or too long for the room): cut strings still read.
    SnmpOctets cut = {buf, 0};
    uint16_t full = 0;
    if (ber_read_octets(&r, tag, &cut, kOctetRoom, &full, BER_MAY_BE_EMPTY)) {
      check(full == length && cut.length <= kOctetRoom && cut.length <= full);
    } else {
      return;
    }
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  // Copy so that reads past the input are caught exactly at its end.
  uint8_t* copy = static_cast<uint8_t*>(std::malloc(size ? size : 1));
  if (copy == nullptr) return 0;
  if (size) std::memcpy(copy, data, size);
  walk(ber_reader(copy, size), 0);

  // Raw OID content decoding of the whole input.
  uint32_t ids[SNMP_OID_MAX];
  SnmpOid oid = {0, ids};
  uint16_t length = size > 0xFFFF ? 0xFFFF : static_cast<uint16_t>(size);
  if (ber_decode_oid(copy, &oid, length)) check(oid.count >= 2 && oid.count <= SNMP_OID_MAX);
  std::free(copy);
  return 0;
}

// BER codec for SNMP: the raw encoders and decoders, and the bounded reader built on them
// that every decoder of received datagrams goes through.
#include "service/snmp/ber.h"

#include <cstring>

namespace {

bool is_unsigned_tag(uint8_t tag) {
  return tag == BER_COUNTER32 || tag == BER_GAUGE32 || tag == BER_TIMETICKS;
}

bool is_integer_tag(uint8_t tag) { return tag == BER_INTEGER || is_unsigned_tag(tag); }

bool is_empty_tag(uint8_t tag) {
  return tag == BER_NULL || tag == BER_NO_SUCH_OBJECT || tag == BER_NO_SUCH_INSTANCE ||
         tag == BER_END_OF_MIB_VIEW;
}

// Octets a sub-identifier takes in base 128.
uint32_t base128_size(uint32_t v) {
  uint32_t n = 1;
  while (v >= 0x80) {
    v >>= 7;
    ++n;
  }
  return n;
}

// Decodes OID content into at most capacity sub-identifiers. The first group (which may span
// several octets) splits into the first two sub-identifiers as X.690 says.
bool decode_oid(const uint8_t* p, uint16_t length, SnmpOid* dst, uint32_t capacity) {
  dst->count = 0;
  if (length == 0 || capacity < 2) return false;
  uint32_t acc = 0;
  uint32_t count = 0;
  bool have_first = false;
  for (uint16_t i = 0; i < length; ++i) {
    acc = (acc << 7) | (p[i] & 0x7Fu);
    if (p[i] & 0x80) continue;
    if (!have_first) {
      uint32_t a = acc < 80 ? acc / 40 : 2;
      dst->ids[0] = a;
      dst->ids[1] = acc - 40 * a;
      count = 2;
      have_first = true;
    } else {
      if (count >= capacity) return false;
      dst->ids[count++] = acc;
    }
    acc = 0;
  }
  if (!have_first) return false;
  dst->count = count;
  return true;
}

}  // namespace

uint32_t ber_decode_length(const uint8_t* p, uint16_t* octets) {
  if (p[0] < 0x80) {
    *octets = 1;
    return p[0];
  }
  uint16_t n = p[0] & 0x7F;
  *octets = static_cast<uint16_t>(n + 1);
  uint32_t length = 0;
  for (uint16_t i = 1; i <= n; ++i) length = (length << 8) | p[i];
  return length;
}

uint16_t ber_encode_length(uint8_t* out, uint16_t length) {
  if (length < 0x80) {
    out[0] = static_cast<uint8_t>(length);
    return 1;
  }
  if (length < 0x100) {
    out[0] = 0x81;
    out[1] = static_cast<uint8_t>(length);
    return 2;
  }
  out[0] = 0x82;
  out[1] = static_cast<uint8_t>(length >> 8);
  out[2] = static_cast<uint8_t>(length);
  return 3;
}

int32_t ber_decode_integer(const uint8_t* p, uint8_t length) {
  if (length == 0 || length > 4) return 0;
  uint32_t v = (p[0] & 0x80) ? 0xFFFFFFFFu : 0u;
  for (uint8_t i = 0; i < length; ++i) v = (v << 8) | p[i];
  return static_cast<int32_t>(v);
}

uint16_t ber_encode_integer(int32_t value, uint8_t* out, uint8_t tag) {
  uint32_t u = static_cast<uint32_t>(value);
  uint16_t n;
  bool lead_zero = false;
  if (is_unsigned_tag(tag)) {
    if (u < 0x80u) n = 1;
    else if (u < 0x8000u) n = 2;
    else if (u < 0x800000u) n = 3;
    else if (u < 0x80000000u) n = 4;
    else {
      n = 4;
      lead_zero = true;
    }
  } else {
    uint32_t magnitude = value < 0 ? 0u - u : u;
    if (magnitude < 0x80u) n = 1;
    else if (magnitude < 0x8000u) n = 2;
    else if (magnitude < 0x800000u) n = 3;
    else n = 4;
  }
  uint16_t pos = 0;
  out[pos++] = tag;
  out[pos++] = static_cast<uint8_t>(n + (lead_zero ? 1 : 0));
  if (lead_zero) out[pos++] = 0x00;
  for (uint16_t i = n; i > 0; --i) out[pos++] = static_cast<uint8_t>(u >> (8 * (i - 1)));
  return pos;
}

bool ber_copy_octets(const uint8_t* src, SnmpOctets* dst, uint16_t count) {
  dst->length = count;
  if (count > 0) std::memcpy(dst->data, src, count);
  return true;
}

uint16_t ber_encode_octets(const SnmpOctets* src, uint8_t* out, uint8_t tag) {
  out[0] = tag;
  uint16_t n = ber_encode_length(out + 1, src->length);
  if (src->length > 0) std::memcpy(out + 1 + n, src->data, src->length);
  return static_cast<uint16_t>(1 + n + src->length);
}

bool ber_decode_oid(const uint8_t* p, SnmpOid* dst, uint16_t length) {
  return decode_oid(p, length, dst, SNMP_OID_MAX);
}

uint16_t ber_encode_oid(const SnmpOid* oid, uint8_t* out) {
  if (oid->count == 0 || oid->count > SNMP_OID_MAX) return 0;
  uint64_t first = 40ull * oid->ids[0] + (oid->count > 1 ? oid->ids[1] : 0u);
  if (first > 127) return 0;
  uint32_t content = 1;
  for (uint32_t i = 2; i < oid->count; ++i) content += base128_size(oid->ids[i]);

  uint16_t pos = 0;
  out[pos++] = BER_OID;
  if (content >= 127) {
    out[pos++] = 0x82;
    out[pos++] = static_cast<uint8_t>(content >> 8);
    out[pos++] = static_cast<uint8_t>(content);
  } else {
    out[pos++] = static_cast<uint8_t>(content);
  }
  out[pos++] = static_cast<uint8_t>(first);
  for (uint32_t i = 2; i < oid->count; ++i) {
    uint32_t v = oid->ids[i];
    for (uint32_t g = base128_size(v); g > 0; --g) {
      uint8_t group = static_cast<uint8_t>((v >> (7 * (g - 1))) & 0x7F);
      out[pos++] = g > 1 ? static_cast<uint8_t>(group | 0x80) : group;
    }
  }
  return pos;
}

bool ber_decode_value(const uint8_t* p, SnmpVarBind* dst, uint16_t length) {
  uint8_t tag = dst->tag;
  if (is_integer_tag(tag)) {
    dst->value.integer = ber_decode_integer(p, length > 4 ? 0 : static_cast<uint8_t>(length));
    return true;
  }
  if (tag == BER_OCTET_STRING || tag == BER_IP_ADDRESS)
    return ber_copy_octets(p, &dst->value.octets, length);
  if (tag == BER_OID) return ber_decode_oid(p, &dst->value.oid, length);
  return is_empty_tag(tag);
}

uint16_t ber_encode_value(const SnmpVarBind* src, uint8_t* out) {
  uint8_t tag = src->tag;
  if (is_integer_tag(tag)) return ber_encode_integer(src->value.integer, out, tag);
  if (tag == BER_OCTET_STRING || tag == BER_IP_ADDRESS || tag == BER_SEQUENCE)
    return ber_encode_octets(&src->value.octets, out, tag);
  if (tag == BER_OID) return ber_encode_oid(&src->value.oid, out);
  if (is_empty_tag(tag)) {
    out[0] = tag;
    out[1] = 0x00;
    return 2;
  }
  return 0;
}

bool snmp_oid_has_prefix(const uint32_t* oid, uint32_t count, const uint32_t* prefix,
                         uint32_t prefix_count) {
  if (prefix_count == 0) return true;
  if (count < prefix_count) return false;
  for (uint32_t i = 0; i < prefix_count; ++i)
    if (oid[i] != prefix[i]) return false;
  return true;
}

int ber_peek_tag(const BerReader* r) {
  if (r->pos == nullptr || r->pos >= r->end) return -1;
  return r->pos[0];
}

bool ber_read_any_header(BerReader* r, uint8_t* tag, uint16_t* length) {
  if (r->pos == nullptr || r->pos >= r->end) return false;
  size_t left = ber_reader_left(r);
  if (left < 2) return false;
  const uint8_t* p = r->pos;
  // Definite form only; the long form with 1 to 4 octets, all present.
  if (p[1] >= 0x80) {
    size_t n = p[1] & 0x7Fu;
    if (n == 0 || n > 4 || left < 2 + n) return false;
  }
  uint16_t octets = 0;
  uint32_t value = ber_decode_length(p + 1, &octets);
  size_t header = 1 + static_cast<size_t>(octets);
  if (value > 0xFFFFu || value > left - header) return false;
  *tag = p[0];
  *length = static_cast<uint16_t>(value);
  r->pos = p + header;
  return true;
}

bool ber_read_header(BerReader* r, uint8_t expected_tag, uint16_t* length) {
  BerReader probe = *r;
  uint8_t tag = 0;
  uint16_t n = 0;
  if (!ber_read_any_header(&probe, &tag, &n) || tag != expected_tag) return false;
  *r = probe;
  *length = n;
  return true;
}

bool ber_read_inner(BerReader* r, uint8_t tag, BerReader* inner, BerEmpty empty) {
  BerReader probe = *r;
  uint16_t length = 0;
  if (!ber_read_header(&probe, tag, &length)) return false;
  if (length == 0 && empty != BER_MAY_BE_EMPTY) return false;
  inner->pos = probe.pos;
  inner->end = probe.pos + length;
  r->pos = probe.pos + length;
  return true;
}

bool ber_read_integer(BerReader* r, uint8_t tag, int32_t* value, BerEmpty empty) {
  BerReader probe = *r;
  uint16_t length = 0;
  if (!ber_read_header(&probe, tag, &length)) return false;
  const uint8_t* p = probe.pos;
  if (length == 0) {
    if (empty != BER_MAY_BE_EMPTY) return false;
    *value = 0;
  } else if (length <= 4) {
    *value = ber_decode_integer(p, static_cast<uint8_t>(length));
  } else if (length == 5 && is_unsigned_tag(tag) && p[0] == 0x00) {
    *value = static_cast<int32_t>((uint32_t{p[1]} << 24) | (uint32_t{p[2]} << 16) |
                                  (uint32_t{p[3]} << 8) | p[4]);
  } else {
    return false;
  }
  r->pos = p + length;
  return true;
}

bool ber_read_octets(BerReader* r, uint8_t tag, SnmpOctets* dst, uint16_t room,
                     uint16_t* full_length, BerEmpty empty) {
  BerReader probe = *r;
  uint16_t length = 0;
  if (!ber_read_header(&probe, tag, &length)) return false;
  if (length == 0 && empty != BER_MAY_BE_EMPTY) return false;
  ber_copy_octets(probe.pos, dst, length < room ? length : room);
  if (full_length != nullptr) *full_length = length;
  r->pos = probe.pos + length;
  return true;
}

bool ber_read_oid(BerReader* r, SnmpOid* dst, uint32_t capacity) {
  BerReader probe = *r;
  uint16_t length = 0;
  if (!ber_read_header(&probe, BER_OID, &length)) return false;
  if (!decode_oid(probe.pos, length, dst, capacity < SNMP_OID_MAX ? capacity : SNMP_OID_MAX))
    return false;
  r->pos = probe.pos + length;
  return true;
}

bool ber_read_value(BerReader* r, SnmpVarBind* dst, uint16_t octet_room, uint32_t oid_room) {
  BerReader probe = *r;
  uint8_t tag = 0;
  uint16_t length = 0;
  if (!ber_read_any_header(&probe, &tag, &length)) return false;
  bool ok;
  if (is_integer_tag(tag)) {
    ok = ber_read_integer(r, tag, &dst->value.integer, BER_NOT_EMPTY);
  } else if (tag == BER_OCTET_STRING || tag == BER_IP_ADDRESS) {
    ok = length <= octet_room &&
         ber_read_octets(r, tag, &dst->value.octets, octet_room, nullptr, BER_MAY_BE_EMPTY);
  } else if (tag == BER_OID) {
    ok = ber_read_oid(r, &dst->value.oid, oid_room);
  } else if (is_empty_tag(tag)) {
    ok = length == 0;
    if (ok) *r = probe;
  } else {
    ok = false;
  }
  if (ok) dst->tag = tag;
  return ok;
}

uint8_t* ber_put_space(BerWriter* w, size_t n) {
  if (!w->ok || static_cast<size_t>(w->pos - w->start) < n) {
    w->ok = false;
    return nullptr;
  }
  w->pos -= n;
  return w->pos;
}

bool ber_put_bytes(BerWriter* w, const uint8_t* data, size_t n) {
  uint8_t* p = ber_put_space(w, n);
  if (p == nullptr) return false;
  if (n > 0) std::memcpy(p, data, n);
  return true;
}

bool ber_put_header(BerWriter* w, uint8_t tag, size_t content_length) {
  if (content_length > 0xFFFF) {
    w->ok = false;
    return false;
  }
  uint8_t header[4] = {tag};
  uint16_t n = ber_encode_length(header + 1, static_cast<uint16_t>(content_length));
  return ber_put_bytes(w, header, 1u + n);
}

bool ber_put_integer(BerWriter* w, uint8_t tag, int32_t value) {
  uint8_t element[8];
  return ber_put_bytes(w, element, ber_encode_integer(value, element, tag));
}

bool ber_put_octets(BerWriter* w, uint8_t tag, const uint8_t* data, size_t n) {
  return ber_put_bytes(w, data, n) && ber_put_header(w, tag, n);
}

bool ber_put_oid(BerWriter* w, const uint32_t* ids, uint32_t count) {
  uint8_t element[BER_OID_ENCODED_MAX];
  SnmpOid oid = {count, const_cast<uint32_t*>(ids)};
  uint16_t n = ber_encode_oid(&oid, element);
  if (n == 0) w->ok = false;
  return ber_put_bytes(w, element, n) && n > 0;
}

bool ber_put_value(BerWriter* w, const SnmpVarBind* value) {
  switch (value->tag) {
    case BER_OCTET_STRING:
    case BER_IP_ADDRESS:
    case BER_SEQUENCE:
      return ber_put_octets(w, value->tag, value->value.octets.data, value->value.octets.length);
    case BER_OID:
      return ber_put_oid(w, value->value.oid.ids, value->value.oid.count);
    default: {
      uint8_t element[8];
      uint16_t n = ber_encode_value(value, element);
      if (n == 0) w->ok = false;
      return ber_put_bytes(w, element, n) && n > 0;
    }
  }
}

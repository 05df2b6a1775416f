// BER (X.690) subset used by SNMP messages: lengths, integers, octet strings, object
// identifiers and variable-binding values. The ber_decode_* / ber_encode_* routines work on
// raw buffers and do not check bounds; the ber_read_* routines wrap them for untrusted input.
// The agent's message decoder and the trap receiver read every datagram with ber_read_*.
#pragma once
#include <cstddef>
#include <cstdint>

// Tags of the universal and application types in use.
enum : uint8_t {
  BER_INTEGER = 0x02,
  BER_OCTET_STRING = 0x04,
  BER_NULL = 0x05,
  BER_OID = 0x06,
  BER_SEQUENCE = 0x30,
  BER_IP_ADDRESS = 0x40,
  BER_COUNTER32 = 0x41,
  BER_GAUGE32 = 0x42,
  BER_TIMETICKS = 0x43,
  BER_NO_SUCH_OBJECT = 0x80,
  BER_NO_SUCH_INSTANCE = 0x81,
  BER_END_OF_MIB_VIEW = 0x82,
};

enum : uint32_t {
  SNMP_OID_MAX = 128,   // sub-identifiers an object identifier value may hold
  // Most octets ber_encode_oid writes: tag, 3 length octets, the first octet, 126 x 5 octets.
  BER_OID_ENCODED_MAX = 4 + 1 + 5 * (SNMP_OID_MAX - 2),
};

// An octet-string value. data points at a buffer the caller owns; the codec copies into it
// and never changes the pointer.
struct SnmpOctets {
  uint8_t* data;    // caller's buffer
  uint16_t length;  // bytes held
};

// An object identifier value.
struct SnmpOid {
  uint32_t count;  // sub-identifiers held
  uint32_t* ids;   // caller's array (room for SNMP_OID_MAX where decoded into)
};

// The value of a variable binding; which field holds it follows the tag.
struct SnmpValue {
  int32_t integer;     // 0x02, 0x41, 0x42, 0x43 (unsigned types are kept as their 32 bits)
  SnmpOctets octets;   // 0x04, 0x40, and 0x30 when encoding
  SnmpOid oid;         // 0x06
};

// One variable binding. NULL and the three exception tags carry no value.
struct SnmpVarBind {
  SnmpOid name;      // the variable's object identifier
  uint8_t tag;       // tag of the value
  SnmpValue value;   // the value, by tag
};

// ---- Raw codec: no bounds checks, callers guarantee the bytes are there ----

// Reads the length octets at p. *octets := number of length octets (1 + n for the long form).
// The indefinite form 0x80 gives 0 with *octets 1; callers treat 0 as "no length" where content
// is needed. Callers use the low 16 bits.
uint32_t ber_decode_length(const uint8_t* p, uint16_t* octets);
// Writes 1 (below 128), 2 (0x81 n) or 3 (0x82 hi lo) octets; returns how many.
uint16_t ber_encode_length(uint8_t* out, uint16_t length);

// 1 to 4 content octets, big-endian, sign-extended from the first octet's top bit.
// Any other content length decodes as 0.
int32_t ber_decode_integer(const uint8_t* p, uint8_t length);
// Whole tag-length-value. Tag 0x02 is signed (sized by magnitude, so -128 takes 2 octets);
// 0x41-0x43 are unsigned 32-bit, 5 content octets (leading 0x00) from 2^31. Returns octets written.
uint16_t ber_encode_integer(int32_t value, uint8_t* out, uint8_t tag);

// dst->length := count and count bytes copied into dst->data. The caller bounds count by its
// buffer. Always true.
bool ber_copy_octets(const uint8_t* src, SnmpOctets* dst, uint16_t count);
// tag (0x04, 0x30 or 0x40), length, bytes. Returns octets written.
uint16_t ber_encode_octets(const SnmpOctets* src, uint8_t* out, uint8_t tag);

// Content octets into dst (dst->ids has room for SNMP_OID_MAX). False on an empty content,
// on an incomplete first sub-identifier, or when more than SNMP_OID_MAX would be held.
// Trailing octets that do not end a sub-identifier are ignored.
bool ber_decode_oid(const uint8_t* p, SnmpOid* dst, uint16_t length);
// Tag 0x06, length (0x82 hi lo when the content is 127 octets or more), content.
// 0 when count is 0 or above SNMP_OID_MAX, or 40 x first + second exceeds 127.
// Writes at most BER_OID_ENCODED_MAX octets.
uint16_t ber_encode_oid(const SnmpOid* oid, uint8_t* out);

// Content of dst->tag into dst->value (octet strings into value.octets.data, which must have
// room for length bytes). False for 0x30 and tags outside the set.
bool ber_decode_value(const uint8_t* p, SnmpVarBind* dst, uint16_t length);
// The value of src->tag as a whole tag-length-value; NULL and exceptions are tag and 0x00.
// 0 for a tag outside the set.
uint16_t ber_encode_value(const SnmpVarBind* src, uint8_t* out);

// True when oid has at least prefix_count sub-identifiers and its first prefix_count equal
// prefix's. A prefix of 0 sub-identifiers always matches.
bool snmp_oid_has_prefix(const uint32_t* oid, uint32_t count, const uint32_t* prefix,
                         uint32_t prefix_count);

// ---- Bounded reader: every read checks tag and length against the bytes left ----
// Each ber_read_* either succeeds and moves pos past the element, or fails and leaves the
// reader as it was. Elements are accepted only in definite form with at most 4 length octets
// and a length below 65536 that lies inside [pos, end). A decoder that changes bytes in place
// (a zeroed digest, a decrypted PDU) finds them in its own buffer at offset pos - start.

struct BerReader {
  const uint8_t* pos;  // next byte to read
  const uint8_t* end;  // one past the last byte of the region
};

// Whether an element of length 0 is accepted.
enum BerEmpty : uint8_t {
  BER_NOT_EMPTY = 0,
  BER_MAY_BE_EMPTY = 1,
};

inline BerReader ber_reader(const uint8_t* data, size_t length) { return {data, data + length}; }
inline size_t ber_reader_left(const BerReader* r) { return static_cast<size_t>(r->end - r->pos); }

// The tag of the next element, or -1 when nothing is left.
int ber_peek_tag(const BerReader* r);
// Tag and length of the next element; pos moves to its content. Any tag.
bool ber_read_any_header(BerReader* r, uint8_t* tag, uint16_t* length);
// As ber_read_any_header, failing unless the tag is expected_tag.
bool ber_read_header(BerReader* r, uint8_t expected_tag, uint16_t* length);
// A constructed element (SEQUENCE, a PDU, an OCTET STRING that wraps one): *inner spans its
// content and r moves past it. Also skips an element whose content is not wanted.
bool ber_read_inner(BerReader* r, uint8_t tag, BerReader* inner, BerEmpty empty);
// An integer element of the given tag with 1 to 4 content octets (0 octets reads as 0 when
// empty allows it). Tags 0x41-0x43 also take the 5-octet form 0x00 + four octets, as
// unsigned values from 2^31 are written; the value keeps its 32 bits.
bool ber_read_integer(BerReader* r, uint8_t tag, int32_t* value, BerEmpty empty);
// An octet-string element of the given tag: at most room bytes are copied into dst->data and
// dst->length is the number copied; *full_length (when not null) gets the element's length,
// so a caller sees that the string was cut.
bool ber_read_octets(BerReader* r, uint8_t tag, SnmpOctets* dst, uint16_t room,
                     uint16_t* full_length, BerEmpty empty);
// An OBJECT IDENTIFIER element (never empty) into dst, whose array has room for capacity
// sub-identifiers (at most SNMP_OID_MAX are ever held).
bool ber_read_oid(BerReader* r, SnmpOid* dst, uint32_t capacity);
// One value of any tag of the set except 0x30: dst->tag := the tag read. Integers as
// ber_read_integer; octet strings longer than octet_room fail; OIDs as ber_read_oid with
// oid_room; NULL and the exceptions must have length 0.
bool ber_read_value(BerReader* r, SnmpVarBind* dst, uint16_t octet_room, uint32_t oid_room);

// ---- Backward writer: a message is built from its end towards the start of a buffer ----
// Each element's content is written before its header, so lengths are known when the header
// goes in. A write that does not fit sets ok to false and every later write does nothing.

struct BerWriter {
  uint8_t* start;  // first byte of the buffer
  uint8_t* pos;    // first byte written so far (the buffer's end while empty)
  bool ok;         // false once something did not fit
};

inline BerWriter ber_writer(uint8_t* buffer, size_t size) { return {buffer, buffer + size, true}; }

// Reserves n bytes before pos and returns them (null when they do not fit).
uint8_t* ber_put_space(BerWriter* w, size_t n);
bool ber_put_bytes(BerWriter* w, const uint8_t* data, size_t n);
// Tag and length of an element whose content_length bytes stand at pos.
bool ber_put_header(BerWriter* w, uint8_t tag, size_t content_length);
// Wraps everything written since mark (an earlier pos) as one element of the tag.
inline bool ber_put_wrap(BerWriter* w, uint8_t tag, const uint8_t* mark) {
  return ber_put_header(w, tag, static_cast<size_t>(mark - w->pos));
}
bool ber_put_integer(BerWriter* w, uint8_t tag, int32_t value);
bool ber_put_octets(BerWriter* w, uint8_t tag, const uint8_t* data, size_t n);
bool ber_put_oid(BerWriter* w, const uint32_t* ids, uint32_t count);
// A value of any tag that ber_encode_value writes.
bool ber_put_value(BerWriter* w, const SnmpVarBind* value);

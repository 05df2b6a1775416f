// BER codec: exact encodings of lengths, integers, OIDs and values, decoding edge cases,
// and the bounded reader refusing truncated and lying elements.
#include <gtest/gtest.h>

#include <climits>
#include <cstring>
#include <vector>

#include "service/snmp/ber.h"

namespace {

using Bytes = std::vector<uint8_t>;

Bytes take(const uint8_t* p, size_t n) { return Bytes(p, p + n); }

TEST(BerLength, EncodesShortAndLongForms) {
  struct Case {
    uint16_t length;
    Bytes expected;
  } cases[] = {
      {0, {0x00}},
      {127, {0x7F}},
      {128, {0x81, 0x80}},
      {255, {0x81, 0xFF}},
      {256, {0x82, 0x01, 0x00}},
      {65535, {0x82, 0xFF, 0xFF}},
  };
  for (const Case& c : cases) {
    uint8_t out[4] = {};
    uint16_t n = ber_encode_length(out, c.length);
    EXPECT_EQ(take(out, n), c.expected) << c.length;
  }
}

TEST(BerLength, Decodes) {
  struct Case {
    Bytes in;
    uint32_t length;
    uint16_t octets;
  } cases[] = {
      {{0x7F}, 127, 1},
      {{0x81, 0x80}, 128, 2},
      {{0x82, 0x01, 0x00}, 256, 3},
      {{0x80}, 0, 1},   // indefinite form: "no length"
  };
  for (const Case& c : cases) {
    uint16_t octets = 0;
    EXPECT_EQ(ber_decode_length(c.in.data(), &octets), c.length);
    EXPECT_EQ(octets, c.octets);
  }
}

TEST(BerInteger, EncodesByTagAndMagnitude) {
  struct Case {
    int32_t value;
    uint8_t tag;
    Bytes expected;
  } cases[] = {
      {0, BER_INTEGER, {0x02, 0x01, 0x00}},
      {127, BER_INTEGER, {0x02, 0x01, 0x7F}},
      {128, BER_INTEGER, {0x02, 0x02, 0x00, 0x80}},
      {-1, BER_INTEGER, {0x02, 0x01, 0xFF}},
      {-127, BER_INTEGER, {0x02, 0x01, 0x81}},
      {-128, BER_INTEGER, {0x02, 0x02, 0xFF, 0x80}},
      {-129, BER_INTEGER, {0x02, 0x02, 0xFF, 0x7F}},
      {-32768, BER_INTEGER, {0x02, 0x03, 0xFF, 0x80, 0x00}},
      {32768, BER_INTEGER, {0x02, 0x03, 0x00, 0x80, 0x00}},
      {0x800000, BER_INTEGER, {0x02, 0x04, 0x00, 0x80, 0x00, 0x00}},
      {INT_MAX, BER_INTEGER, {0x02, 0x04, 0x7F, 0xFF, 0xFF, 0xFF}},
      {INT_MIN, BER_INTEGER, {0x02, 0x04, 0x80, 0x00, 0x00, 0x00}},
      {-1, BER_COUNTER32, {0x41, 0x05, 0x00, 0xFF, 0xFF, 0xFF, 0xFF}},   // 4294967295
      {INT_MIN, BER_GAUGE32, {0x42, 0x05, 0x00, 0x80, 0x00, 0x00, 0x00}},
      {INT_MAX, BER_GAUGE32, {0x42, 0x04, 0x7F, 0xFF, 0xFF, 0xFF}},
      {0, BER_TIMETICKS, {0x43, 0x01, 0x00}},
      {200, BER_TIMETICKS, {0x43, 0x02, 0x00, 0xC8}},
  };
  for (const Case& c : cases) {
    uint8_t out[8] = {};
    uint16_t n = ber_encode_integer(c.value, out, c.tag);
    EXPECT_EQ(take(out, n), c.expected) << c.value << " tag " << int(c.tag);
    // Every form of up to four content octets reads back as the same 32 bits.
    if (out[1] <= 4) {
      EXPECT_EQ(ber_decode_integer(out + 2, out[1]), c.value);
    }
  }
}

TEST(BerInteger, DecodesSignExtendedAndRefusesOtherLengths) {
  struct Case {
    Bytes content;
    int32_t value;
  } cases[] = {
      {{0x80}, -128},
      {{0x7F}, 127},
      {{0x80, 0x00}, -32768},
      {{0x80, 0x00, 0x00}, -0x800000},
      {{0x00, 0xFF, 0xFF, 0xFF}, 0xFFFFFF},
      {{0x00, 0xFF, 0xFF, 0xFF, 0xFF}, 0},   // five octets
      {{}, 0},
  };
  for (const Case& c : cases) {
    uint8_t buf[8] = {};
    if (!c.content.empty()) std::memcpy(buf, c.content.data(), c.content.size());
    EXPECT_EQ(ber_decode_integer(buf, static_cast<uint8_t>(c.content.size())), c.value);
  }
}

TEST(BerOid, EncodesExactly) {
  uint32_t sys_descr[] = {1, 3, 6, 1, 2, 1, 1, 1, 0};
  SnmpOid oid = {9, sys_descr};
  uint8_t out[BER_OID_ENCODED_MAX];
  uint16_t n = ber_encode_oid(&oid, out);
  EXPECT_EQ(take(out, n), (Bytes{0x06, 0x08, 0x2B, 0x06, 0x01, 0x02, 0x01, 0x01, 0x01, 0x00}));

  uint32_t big[] = {1, 3, 200, 16383, 16384, 0xFFFFFFFF};
  oid = {6, big};
  n = ber_encode_oid(&oid, out);
  EXPECT_EQ(take(out, n), (Bytes{0x06, 0x0D, 0x2B, 0x81, 0x48, 0xFF, 0x7F, 0x81, 0x80, 0x00,
                                 0x8F, 0xFF, 0xFF, 0xFF, 0x7F}));

  uint32_t two[] = {1, 3};
  oid = {2, two};
  n = ber_encode_oid(&oid, out);
  EXPECT_EQ(take(out, n), (Bytes{0x06, 0x01, 0x2B}));
  oid = {1, two};
  n = ber_encode_oid(&oid, out);
  EXPECT_EQ(take(out, n), (Bytes{0x06, 0x01, 0x28}));
}

TEST(BerOid, LongContentTakesThreeLengthOctetsFrom127) {
  uint32_t ids[SNMP_OID_MAX];
  ids[0] = 1;
  ids[1] = 3;
  for (uint32_t i = 2; i < SNMP_OID_MAX; ++i) ids[i] = 1;
  uint8_t out[BER_OID_ENCODED_MAX];
  // Content of 126 octets: one length octet.
  SnmpOid oid = {127, ids};
  uint16_t n = ber_encode_oid(&oid, out);
  EXPECT_EQ(n, 2 + 126);
  EXPECT_EQ(out[1], 126);
  // Content of 127 octets: 0x82 0x00 0x7F.
  oid = {128, ids};
  n = ber_encode_oid(&oid, out);
  ASSERT_EQ(n, 4 + 127);
  EXPECT_EQ(take(out, 4), (Bytes{0x06, 0x82, 0x00, 0x7F}));
  // And it reads back.
  uint32_t back[SNMP_OID_MAX];
  SnmpOid decoded = {0, back};
  BerReader r = ber_reader(out, n);
  ASSERT_TRUE(ber_read_oid(&r, &decoded, SNMP_OID_MAX));
  EXPECT_EQ(decoded.count, 128u);
  EXPECT_EQ(std::memcmp(back, ids, sizeof ids), 0);
}

TEST(BerOid, EncodeFailures) {
  uint32_t ids[SNMP_OID_MAX + 1] = {3, 0, 1};
  uint8_t out[BER_OID_ENCODED_MAX];
  SnmpOid oid = {3, ids};   // 40 x 3 + 0 = 120: fits
  EXPECT_GT(ber_encode_oid(&oid, out), 0);
  ids[1] = 8;               // 128 exceeds one octet
  EXPECT_EQ(ber_encode_oid(&oid, out), 0);
  ids[0] = 107374183;       // 40 x first wraps to 24 in 32 bits: must still fail
  ids[1] = 0;
  EXPECT_EQ(ber_encode_oid(&oid, out), 0);
  oid = {0, ids};
  EXPECT_EQ(ber_encode_oid(&oid, out), 0);
  ids[0] = 1;
  ids[1] = 3;
  oid = {SNMP_OID_MAX + 1, ids};
  EXPECT_EQ(ber_encode_oid(&oid, out), 0);
}

TEST(BerOid, Decodes) {
  uint32_t ids[SNMP_OID_MAX];
  SnmpOid oid = {0, ids};
  const uint8_t just_first[] = {0x2B};
  ASSERT_TRUE(ber_decode_oid(just_first, &oid, 1));
  ASSERT_EQ(oid.count, 2u);
  EXPECT_EQ(ids[0], 1u);
  EXPECT_EQ(ids[1], 3u);

  const uint8_t with_trailing[] = {0x2B, 0x81, 0x48, 0x05, 0x81};   // last octet ends nothing
  ASSERT_TRUE(ber_decode_oid(with_trailing, &oid, sizeof with_trailing));
  ASSERT_EQ(oid.count, 4u);
  EXPECT_EQ(ids[2], 200u);
  EXPECT_EQ(ids[3], 5u);

  EXPECT_FALSE(ber_decode_oid(just_first, &oid, 0));
  const uint8_t unfinished_first[] = {0x81};
  EXPECT_FALSE(ber_decode_oid(unfinished_first, &oid, 1));

  // 128 sub-identifiers fit, 129 do not.
  uint8_t content[128];
  std::memset(content, 0x01, sizeof content);
  content[0] = 0x2B;
  EXPECT_TRUE(ber_decode_oid(content, &oid, 127));
  EXPECT_EQ(oid.count, 128u);
  EXPECT_FALSE(ber_decode_oid(content, &oid, 128));
}

TEST(BerOid, Prefix) {
  const uint32_t prefix[] = {1, 3, 6, 1, 4, 1, 7342, 2};
  const uint32_t trap[] = {1, 3, 6, 1, 4, 1, 7342, 2, 4, 20, 3, 0};
  const uint32_t short_one[] = {1, 3, 6, 1, 4, 1, 7342};
  EXPECT_TRUE(snmp_oid_has_prefix(trap, 12, prefix, 8));
  EXPECT_TRUE(snmp_oid_has_prefix(prefix, 8, prefix, 8));
  EXPECT_FALSE(snmp_oid_has_prefix(short_one, 7, prefix, 8));
  EXPECT_FALSE(snmp_oid_has_prefix(trap, 12, trap + 1, 3));
  EXPECT_TRUE(snmp_oid_has_prefix(short_one, 0, prefix, 0));
}

TEST(BerValue, EncodesEachKindAndRefusesOthers) {
  uint8_t text[] = {'a', 'b'};
  uint32_t ids[] = {1, 3, 6};
  struct Case {
    uint8_t tag;
    Bytes expected;
  } cases[] = {
      {BER_INTEGER, {0x02, 0x01, 0x05}},
      {BER_GAUGE32, {0x42, 0x01, 0x05}},
      {BER_OCTET_STRING, {0x04, 0x02, 'a', 'b'}},
      {BER_IP_ADDRESS, {0x40, 0x02, 'a', 'b'}},
      {BER_SEQUENCE, {0x30, 0x02, 'a', 'b'}},
      {BER_OID, {0x06, 0x02, 0x2B, 0x06}},
      {BER_NULL, {0x05, 0x00}},
      {BER_NO_SUCH_OBJECT, {0x80, 0x00}},
      {BER_NO_SUCH_INSTANCE, {0x81, 0x00}},
      {BER_END_OF_MIB_VIEW, {0x82, 0x00}},
      {0x01, {}},
      {0x03, {}},
      {0x44, {}},
      {0x83, {}},
      {0xA2, {}},
  };
  for (const Case& c : cases) {
    SnmpVarBind vb = {};
    vb.tag = c.tag;
    vb.value.integer = 5;
    vb.value.octets = {text, 2};
    vb.value.oid = {3, ids};
    uint8_t out[16] = {};
    uint16_t n = ber_encode_value(&vb, out);
    EXPECT_EQ(take(out, n), c.expected) << int(c.tag);
  }
}

TEST(BerValue, DecodesByTag) {
  uint8_t buf[8] = {};
  uint32_t ids[SNMP_OID_MAX];
  SnmpVarBind vb = {};
  vb.value.octets.data = buf;
  vb.value.oid.ids = ids;

  const uint8_t text[] = {'x', 'y', 'z'};
  vb.tag = BER_OCTET_STRING;
  ASSERT_TRUE(ber_decode_value(text, &vb, 3));
  EXPECT_EQ(vb.value.octets.length, 3);
  EXPECT_EQ(std::memcmp(buf, "xyz", 3), 0);

  const uint8_t number[] = {0xFF, 0x7F};
  vb.tag = BER_INTEGER;
  ASSERT_TRUE(ber_decode_value(number, &vb, 2));
  EXPECT_EQ(vb.value.integer, -129);

  const uint8_t oid[] = {0x2B, 0x06};
  vb.tag = BER_OID;
  ASSERT_TRUE(ber_decode_value(oid, &vb, 2));
  EXPECT_EQ(vb.value.oid.count, 3u);

  vb.tag = BER_NULL;
  EXPECT_TRUE(ber_decode_value(text, &vb, 0));
  vb.tag = BER_SEQUENCE;
  EXPECT_FALSE(ber_decode_value(text, &vb, 3));
  vb.tag = 0x44;
  EXPECT_FALSE(ber_decode_value(text, &vb, 3));
}

TEST(BerReader, RefusesBadHeaders) {
  struct Case {
    const char* what;
    Bytes in;
  } cases[] = {
      {"nothing", {}},
      {"tag only", {0x02}},
      {"content cut", {0x02, 0x02, 0x01}},
      {"lying long length", {0x04, 0x82, 0x01, 0x00, 'a'}},
      {"long length octets cut", {0x04, 0x82, 0x01}},
      {"indefinite", {0x30, 0x80, 0x00, 0x00}},
      {"five length octets", {0x04, 0x85, 0x00, 0x00, 0x00, 0x00, 0x01, 'a'}},
      {"length beyond 16 bits", {0x04, 0x83, 0x01, 0x00, 0x00}},
  };
  for (const Case& c : cases) {
    BerReader r = ber_reader(c.in.data(), c.in.size());
    uint8_t tag = 0;
    uint16_t length = 0;
    EXPECT_FALSE(ber_read_any_header(&r, &tag, &length)) << c.what;
    EXPECT_EQ(r.pos, c.in.data()) << c.what;
  }
}

TEST(BerReader, ReadsLongFormsThatFit) {
  Bytes msg = {0x04, 0x84, 0x00, 0x00, 0x00, 0x02, 'h', 'i', 0x05, 0x00};
  BerReader r = ber_reader(msg.data(), msg.size());
  uint8_t buf[4];
  SnmpOctets s = {buf, 0};
  uint16_t full = 0;
  ASSERT_TRUE(ber_read_octets(&r, BER_OCTET_STRING, &s, sizeof buf, &full, BER_NOT_EMPTY));
  EXPECT_EQ(full, 2);
  EXPECT_EQ(s.length, 2);
  EXPECT_EQ(ber_peek_tag(&r), BER_NULL);
  uint16_t length = 1;
  ASSERT_TRUE(ber_read_header(&r, BER_NULL, &length));
  EXPECT_EQ(length, 0);
  EXPECT_EQ(ber_peek_tag(&r), -1);
}

TEST(BerReader, WalksNestedSequenceWithinItsBounds) {
  // SEQUENCE { INTEGER 1, OCTET STRING "public", SEQUENCE { OID 1.3.6, TimeTicks 2^31 } }
  // followed by a byte outside the outer element.
  Bytes msg = {0x30, 0x18, 0x02, 0x01, 0x01, 0x04, 0x06, 'p', 'u', 'b', 'l', 'i', 'c',
               0x30, 0x0B, 0x06, 0x02, 0x2B, 0x06, 0x43, 0x05, 0x00, 0x80, 0x00, 0x00, 0x00,
               0xEE};
  BerReader whole = ber_reader(msg.data(), msg.size());
  BerReader seq;
  ASSERT_TRUE(ber_read_inner(&whole, BER_SEQUENCE, &seq, BER_NOT_EMPTY));
  EXPECT_EQ(ber_reader_left(&whole), 1u);

  int32_t version = -1;
  ASSERT_TRUE(ber_read_integer(&seq, BER_INTEGER, &version, BER_NOT_EMPTY));
  EXPECT_EQ(version, 1);

  uint8_t community[4];
  SnmpOctets c = {community, 0};
  uint16_t full = 0;
  ASSERT_TRUE(ber_read_octets(&seq, BER_OCTET_STRING, &c, sizeof community, &full, BER_NOT_EMPTY));
  EXPECT_EQ(c.length, 4);   // cut to the room
  EXPECT_EQ(full, 6);       // and the caller sees it was cut
  EXPECT_EQ(std::memcmp(community, "publ", 4), 0);

  BerReader vb;
  ASSERT_TRUE(ber_read_inner(&seq, BER_SEQUENCE, &vb, BER_NOT_EMPTY));
  EXPECT_EQ(ber_reader_left(&seq), 0u);
  uint32_t ids[SNMP_OID_MAX];
  SnmpOid name = {0, ids};
  ASSERT_TRUE(ber_read_oid(&vb, &name, SNMP_OID_MAX));
  EXPECT_EQ(name.count, 3u);
  SnmpVarBind value = {};
  ASSERT_TRUE(ber_read_value(&vb, &value, 0, 0));
  EXPECT_EQ(value.tag, BER_TIMETICKS);
  EXPECT_EQ(static_cast<uint32_t>(value.value.integer), 0x80000000u);
  EXPECT_EQ(ber_peek_tag(&vb), -1);
}

TEST(BerReader, InnerLengthThatLiesAboutTheOuterIsRefused) {
  // The inner OCTET STRING claims 5 bytes but its SEQUENCE holds only 3 after its header.
  Bytes msg = {0x30, 0x05, 0x04, 0x05, 'a', 'b', 'c', 'd', 'e'};
  BerReader whole = ber_reader(msg.data(), msg.size());
  BerReader seq;
  ASSERT_TRUE(ber_read_inner(&whole, BER_SEQUENCE, &seq, BER_NOT_EMPTY));
  uint8_t buf[8];
  SnmpOctets s = {buf, 0};
  EXPECT_FALSE(ber_read_octets(&seq, BER_OCTET_STRING, &s, sizeof buf, nullptr, BER_NOT_EMPTY));
}

TEST(BerReader, TypedReadsCheckTagLengthAndEmptiness) {
  struct Case {
    const char* what;
    Bytes in;
    bool ok;
    int32_t value;
  } integers[] = {
      {"wrong tag", {0x04, 0x01, 0x01}, false, 0},
      {"empty refused", {0x02, 0x00}, false, 0},
      {"five octets INTEGER", {0x02, 0x05, 0x00, 0x80, 0x00, 0x00, 0x00}, false, 0},
      {"four octets", {0x02, 0x04, 0xFF, 0xFF, 0xFF, 0xFE}, true, -2},
  };
  for (const Case& c : integers) {
    BerReader r = ber_reader(c.in.data(), c.in.size());
    int32_t v = 0;
    EXPECT_EQ(ber_read_integer(&r, BER_INTEGER, &v, BER_NOT_EMPTY), c.ok) << c.what;
    if (c.ok) {
      EXPECT_EQ(v, c.value) << c.what;
    } else {
      EXPECT_EQ(r.pos, c.in.data()) << c.what;
    }
  }
  Bytes empty_int = {0x02, 0x00};
  BerReader r = ber_reader(empty_int.data(), empty_int.size());
  int32_t v = 7;
  EXPECT_TRUE(ber_read_integer(&r, BER_INTEGER, &v, BER_MAY_BE_EMPTY));
  EXPECT_EQ(v, 0);

  Bytes empty_str = {0x04, 0x00};
  uint8_t buf[2];
  SnmpOctets s = {buf, 9};
  r = ber_reader(empty_str.data(), empty_str.size());
  EXPECT_FALSE(ber_read_octets(&r, BER_OCTET_STRING, &s, sizeof buf, nullptr, BER_NOT_EMPTY));
  EXPECT_TRUE(ber_read_octets(&r, BER_OCTET_STRING, &s, sizeof buf, nullptr, BER_MAY_BE_EMPTY));
  EXPECT_EQ(s.length, 0);

  Bytes empty_oid = {0x06, 0x00};
  uint32_t ids[4];
  SnmpOid oid = {0, ids};
  r = ber_reader(empty_oid.data(), empty_oid.size());
  EXPECT_FALSE(ber_read_oid(&r, &oid, 4));
  Bytes long_oid = {0x06, 0x04, 0x2B, 0x01, 0x02, 0x03};   // five sub-identifiers
  r = ber_reader(long_oid.data(), long_oid.size());
  EXPECT_FALSE(ber_read_oid(&r, &oid, 4));
}

TEST(BerReader, ValueRefusesWhatDoesNotFit) {
  struct Case {
    const char* what;
    Bytes in;
    bool ok;
  } cases[] = {
      {"string longer than room", {0x04, 0x03, 'a', 'b', 'c'}, false},
      {"string fits", {0x04, 0x02, 'a', 'b'}, true},
      {"NULL with content", {0x05, 0x01, 0x00}, false},
      {"NULL", {0x05, 0x00}, true},
      {"endOfMibView", {0x82, 0x00}, true},
      {"SEQUENCE as value", {0x30, 0x00}, false},
      {"unknown tag", {0x44, 0x01, 0x00}, false},
      {"empty Counter32", {0x41, 0x00}, false},
      {"Counter32 five octets", {0x41, 0x05, 0x00, 0xFF, 0xFF, 0xFF, 0xFF}, true},
      {"Counter32 five octets without lead zero", {0x41, 0x05, 0x01, 0xFF, 0xFF, 0xFF, 0xFF}, false},
  };
  for (const Case& c : cases) {
    uint8_t buf[2];
    uint32_t ids[4];
    SnmpVarBind vb = {};
    vb.value.octets.data = buf;
    vb.value.oid.ids = ids;
    BerReader r = ber_reader(c.in.data(), c.in.size());
    EXPECT_EQ(ber_read_value(&r, &vb, sizeof buf, 4), c.ok) << c.what;
    EXPECT_EQ(r.pos == c.in.data() + c.in.size(), c.ok) << c.what;
  }
}

}  // namespace

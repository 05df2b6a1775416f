// Tray link frames: building them, the alarm line, and the strict reader.
#include "service/link/link_frames.h"

#include <cstdio>
#include <cstring>

#include "common/codec.h"

const char LinkKindNames[LINK_KIND_COUNT][4] = {
    "VAL", "LOG", "UHD", "PRO", "SYS", "STP", "UPC", "ICO", "ADO", "DEL", "CFG", "T01", "T02", "T03",
};

const char* const LinkHeaderFormats[LINK_KIND_COUNT] = {
    "OrvikSNMP:VAL00,00,%05d",
    "OrvikSNMP:LOG00,00,%05d",
    "OrvikSNMP:UHD00,00,%05d",
    "OrvikSNMP:PRO00,00,%05d",
    "OrvikSNMP:SYS%02d,00,%05d",
    "OrvikSNMP:STP%02d,00,%05d",
    "OrvikSNMP:UPC00,00,%05d",
    nullptr,
    nullptr,
    "OrvikSNMP:DEL00,00,%05d",
    "OrvikSNMP:CFG00,00,%05d",
    "OrvikSNMP:T0100,00,%05d",
    "OrvikSNMP:T0200,00,%05d",
    "OrvikSNMP:T0300,00,%05d",
};

namespace {

constexpr char kPrefix[] = "OrvikSNMP:";   // offsets 0 to 9
constexpr char kMiddle[] = ",00,";         // offsets 15 to 18

bool is_digit(char c) { return c >= '0' && c <= '9'; }

int32_t crypt64_chars(int32_t bytes) { return 4 * ((bytes + 2) / 3); }

// Record bytes a kind carries: the record's size, 0 for the empty kinds, -1 for text.
int32_t body_record_bytes(uint32_t kind) {
  switch (kind) {
    case LINK_KIND_VAL: return LINK_STATUS_RECORD;
    case LINK_KIND_UHD: case LINK_KIND_UPC: case LINK_KIND_CFG:
    case LINK_KIND_T01: case LINK_KIND_T02: case LINK_KIND_T03: return LINK_SETTINGS_RECORD;
    case LINK_KIND_LOG: case LINK_KIND_DEL: return -1;
    default: return 0;
  }
}

// True when the first n (1 to 3) characters of name begin some kind name.
bool kind_prefix_known(const char* name, int n) {
  for (const auto& k : LinkKindNames)
    if (memcmp(k, name, size_t(n)) == 0) return true;
  return false;
}

// Header byte i (0 to 24) with the bytes before it already checked.
bool header_byte_ok(const char* h, int i) {
  if (i < 10) return h[i] == kPrefix[i];
  if (i < 13) return kind_prefix_known(h + 10, i - 9);
  if (i < 15) return is_digit(h[i]);
  if (i < 19) return h[i] == kMiddle[i - 15];
  if (i < 24) return is_digit(h[i]);
  return h[i] == ' ';
}

uint32_t kind_of(const char* name) {
  for (uint32_t k = 0; k < LINK_KIND_COUNT; ++k)
    if (memcmp(LinkKindNames[k], name, 3) == 0) return k;
  return LINK_KIND_COUNT;
}

int32_t digits_value(const char* s, int n) {
  int32_t v = 0;
  for (int i = 0; i < n; ++i) v = v * 10 + (s[i] - '0');
  return v;
}

LinkFrameResult drop(LinkRxBuffer* rx) {
  rx->fill = 0;
  return LINK_FRAME_BAD;
}

}  // namespace

int32_t link_body_chars(uint32_t kind) {
  if (kind >= LINK_KIND_COUNT) return 0;
  int32_t bytes = body_record_bytes(kind);
  return bytes < 0 ? -1 : bytes == 0 ? 0 : crypt64_chars(bytes);
}

int32_t link_frame_build(char* out, int32_t room, uint32_t kind, uint32_t code, const uint8_t* body,
                         int32_t body_len) {
  if (kind >= LINK_KIND_COUNT || !LinkHeaderFormats[kind] || code > 99) return 0;
  int32_t want = body_record_bytes(kind);
  if (want >= 0 ? body_len != want : (body_len < 1 || body_len > LINK_TEXT_MAX + 1)) return 0;
  if (body_len > 0 && !body) return 0;
  int32_t chars = body_len > 0 ? crypt64_chars(body_len) : 0;
  if (!out || room < LINK_HEADER_SIZE + chars) return 0;
  if (chars > 0 && CodecApi.codec_crypt64_encode(out + LINK_HEADER_SIZE, body, body_len) != chars) return 0;
  char header[LINK_HEADER_SIZE];
  int n = (kind == LINK_KIND_SYS || kind == LINK_KIND_STP)
              ? snprintf(header, sizeof header, LinkHeaderFormats[kind], int(code), int(chars))
              : snprintf(header, sizeof header, LinkHeaderFormats[kind], int(chars));
  if (n != LINK_HEADER_SIZE - 1) return 0;
  memcpy(out, header, LINK_HEADER_SIZE - 1);
  out[LINK_HEADER_SIZE - 1] = ' ';
  return LINK_HEADER_SIZE + chars;
}

int32_t link_format_alarm_line(char* out, size_t room, uint32_t level, const SystemTime* time,
                               const char* source, const char* message) {
  if (!out || room == 0) return 0;
  int n = snprintf(out, room, "%d %02d/%02d/%04d %02d:%02d:%02d <%s>: %s", int(level), int(time->month),
                   int(time->day), int(time->year), int(time->hour), int(time->minute), int(time->second),
                   source ? source : "", message ? message : "");
  if (n < 0) {
    out[0] = 0;
    return 0;
  }
  return size_t(n) < room ? int32_t(n) : int32_t(room - 1);
}

LinkFrameResult link_frame_next(LinkRxBuffer* rx, uint8_t* decode, LinkFrame* frame) {
  if (rx->fill < 0 || rx->fill > LINK_RX_BUFFER_SIZE) return drop(rx);
  const char* h = rx->data;
  int32_t have = rx->fill < LINK_HEADER_SIZE ? rx->fill : LINK_HEADER_SIZE;
  for (int i = 0; i < have; ++i)
    if (!header_byte_ok(h, i)) return drop(rx);
  if (rx->fill < LINK_HEADER_SIZE) return LINK_FRAME_NEED_MORE;

  uint32_t kind = kind_of(h + 10);
  int32_t length = digits_value(h + 19, 5);
  int32_t want = link_body_chars(kind);
  if (want >= 0 ? length != want : (length < 4 || length > LINK_TEXT_BODY_MAX || length % 4 != 0))
    return drop(rx);
  int32_t total = LINK_HEADER_SIZE + length;
  if (rx->fill < total) return LINK_FRAME_NEED_MORE;

  int32_t bytes = 0;
  if (length > 0) {
    bytes = CodecApi.codec_crypt64_decode(decode, h + LINK_HEADER_SIZE, length);
    if (bytes != length / 4 * 3) return drop(rx);
  }
  decode[bytes] = 0;   // bytes <= 20478, inside the decode area

  frame->kind = kind;
  frame->code = uint32_t(digits_value(h + 13, 2));
  frame->body_chars = length;
  frame->body_bytes = bytes;
  frame->body = decode;
  memmove(rx->data, rx->data + total, size_t(rx->fill - total));
  rx->fill -= total;
  return LINK_FRAME_OK;
}

void link_settings_for_watcher(AgentSettings* s) {
  memset(s->account_user, 0, sizeof s->account_user);
  memset(s->account_password, 0, sizeof s->account_password);
  memset(s->vm_server, 0, sizeof s->vm_server);
  memset(s->vm_account, 0, sizeof s->vm_account);
  memset(s->vm_password, 0, sizeof s->vm_password);
  memset(s->vcli_path, 0, sizeof s->vcli_path);
  memset(s->command_file, 0, sizeof s->command_file);
}

// Frames of the tray link, shared by the service and the tray program: the 25-byte text header,
// the kind table, the crypt64 bodies, the alarm line, and a strict reader that takes complete
// frames one at a time from a receive buffer. Only the codec table and the local-time record
// are used, so either program can link it.
#pragma once
#include <cstddef>
#include <cstdint>

#include "common/settings.h"
#include "platform/clock.h"

enum : uint32_t {
  LINK_KIND_VAL = 0, LINK_KIND_LOG = 1, LINK_KIND_UHD = 2, LINK_KIND_PRO = 3, LINK_KIND_SYS = 4,
  LINK_KIND_STP = 5, LINK_KIND_UPC = 6, LINK_KIND_ICO = 7, LINK_KIND_ADO = 8, LINK_KIND_DEL = 9,
  LINK_KIND_CFG = 10, LINK_KIND_T01 = 11, LINK_KIND_T02 = 12, LINK_KIND_T03 = 13,
  LINK_KIND_COUNT = 14,
};

enum : int32_t {
  LINK_PORT = 5515,
  LINK_HEADER_SIZE = 25,          // 24 header characters and a space
  LINK_RX_BUFFER_SIZE = 30720,    // receive buffer of one connection
  LINK_DECODE_SIZE = 20480,       // decoded body of the frame being handled
  LINK_STATUS_RECORD = 4528,      // bytes of a StatusRecord (VAL body)
  LINK_SETTINGS_RECORD = 2828,    // bytes of an AgentSettings (UHD, UPC, CFG, T01-T03 bodies)
  LINK_STATUS_BODY = 6040,        // crypt64 characters of a StatusRecord
  LINK_SETTINGS_BODY = 3772,      // crypt64 characters of an AgentSettings
  LINK_TEXT_BODY_MAX = 27304,     // longest text body: decodes to 20478 bytes
  LINK_TEXT_MAX = 20477,          // longest text a text frame carries, terminator excluded
  LINK_FRAME_MAX = LINK_HEADER_SIZE + LINK_TEXT_BODY_MAX,
  LINK_ALARM_LINE_SIZE = 512,     // room of a formatted alarm line
};

// The three-character kind names, index = kind number.
extern const char LinkKindNames[LINK_KIND_COUNT][4];
// printf format of the 24 header characters per kind: "%05d" takes the body length, and for SYS
// and STP a "%02d" before it the code. Null for ICO and ADO, which are never sent.
extern const char* const LinkHeaderFormats[LINK_KIND_COUNT];

// Body characters a frame of this kind must carry: the record's crypt64 size, 0 for the empty
// kinds, -1 for the text kinds (LOG, DEL: a multiple of 4 from 4 to LINK_TEXT_BODY_MAX).
int32_t link_body_chars(uint32_t kind);

// Builds one frame into out (room bytes): the body (body_len bytes, crypt64 from offset 25), the
// header written with the kind's format, and the space at offset 24. Returns the frame's size,
// or 0 when the kind is not sendable (ICO, ADO, > 13), the code is above 99, the body does not
// suit the kind (record kinds take their record's size, empty kinds nothing, text kinds 1 to
// LINK_TEXT_MAX + 1 bytes), the frame does not fit, or the encoding fails.
int32_t link_frame_build(char* out, int32_t room, uint32_t kind, uint32_t code, const uint8_t* body,
                         int32_t body_len);

// The alarm line "%d %02d/%02d/%04d %02d:%02d:%02d <%s>: %s" (level, month, day, year, hour,
// minute, second, source, message; UTF-8) into out (room bytes, always terminated). Returns the
// characters written, terminator excluded (cut to room - 1).
int32_t link_format_alarm_line(char* out, size_t room, uint32_t level, const SystemTime* time,
                               const char* source, const char* message);

// Receive buffer of one connection.
struct LinkRxBuffer {
  char data[LINK_RX_BUFFER_SIZE];
  int32_t fill;                   // bytes held, 0 to LINK_RX_BUFFER_SIZE
};

// A frame taken from a receive buffer.
struct LinkFrame {
  uint32_t kind;                  // 0 to 13
  uint32_t code;                  // 0 to 99
  int32_t body_chars;             // crypt64 characters on the wire
  int32_t body_bytes;             // decoded bytes (3 per 4 characters, completion bytes included)
  const uint8_t* body;            // the decode area given to link_frame_next, zero after body_bytes
};

enum LinkFrameResult : int {
  LINK_FRAME_BAD = -1,            // the buffer held a bad frame; it has been emptied
  LINK_FRAME_NEED_MORE = 0,       // no complete frame yet; the buffer is unchanged
  LINK_FRAME_OK = 1,              // *frame filled; the frame has left the front of the buffer
};

// Takes the first frame from rx. The header is checked at its fixed offsets as far as it has
// arrived: prefix "OrvikSNMP", ":", a kind of the table, two code digits, ",00,", five length
// digits, the space; the length must be the kind's body size; the body must be crypt64. The body
// is decoded into decode (LINK_DECODE_SIZE bytes).
LinkFrameResult link_frame_next(LinkRxBuffer* rx, uint8_t* decode, LinkFrame* frame);

// What a client that only watches may see of the settings: the web account names and passwords,
// the VMware server, account, password and vCLI folder, and the command file are zeroed; the rest
// (reactions stopped, language, web protocols and ports) stays.
void link_settings_for_watcher(AgentSettings* settings);

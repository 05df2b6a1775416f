// Fuzz target of the tray link reader: the input arrives in pieces (sizes taken from its first
// byte) and every complete frame is taken out; settings bodies also go through the check that a
// settings update must pass.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>

#include "common/codec.h"
#include "common/settings.h"
#include "service/link/link_frames.h"
#include "service/link/link_service.h"

static LinkRxBuffer rx;
static uint8_t decode[LINK_DECODE_SIZE];

extern "C" int LLVMFuzzerInitialize(int*, char***) {
  codec_table_init();
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  rx.fill = 0;
  if (size == 0) return 0;
  // A piece size of 0 stands for "everything at once".
  size_t piece = data[0] ? size_t(data[0]) * 37 : size;
  ++data;
  --size;
  size_t off = 0;
  while (off < size) {
    size_t room = size_t(LINK_RX_BUFFER_SIZE - rx.fill);
    size_t n = size - off < piece ? size - off : piece;
    if (n > room) n = room;
    if (n == 0) return 0;   // a full buffer with no frame: the service closes such a client
    memcpy(rx.data + rx.fill, data + off, n);
    rx.fill += int32_t(n);
    off += n;
    for (;;) {
      int32_t before = rx.fill;
      LinkFrame f;
      LinkFrameResult r = link_frame_next(&rx, decode, &f);
      if (r == LINK_FRAME_NEED_MORE) {
        if (rx.fill != before) abort();
        break;
      }
      if (r == LINK_FRAME_BAD) {
        if (rx.fill != 0) abort();
        break;
      }
      if (f.kind >= LINK_KIND_COUNT || f.code > 99 || f.body_bytes > LINK_DECODE_SIZE - 2 ||
          rx.fill != before - LINK_HEADER_SIZE - f.body_chars)
        abort();
      if (f.body_bytes >= int32_t(sizeof(AgentSettings)) && f.kind != LINK_KIND_VAL && f.kind != LINK_KIND_LOG &&
          f.kind != LINK_KIND_DEL) {
        AgentSettings s;
        memcpy(&s, f.body, sizeof s);
        link_settings_acceptable(&s);
      }
    }
  }
  return 0;
}

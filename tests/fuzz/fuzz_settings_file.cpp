// Fuzz target of the settings file reader, as an uploaded copy reaches it: any bytes (zero bytes,
// cut lines, stray sections) are read within the records' fields; nothing is written (the
// program is read-only here, so a taken upload's save fails and is undone).
#include <cstddef>
#include <cstdint>

#include "common/codec.h"
#include "common/install.h"
#include "common/settings.h"
#include "common/settings_file.h"
#include "common/text.h"

extern "C" int LLVMFuzzerInitialize(int*, char***) {
  codec_table_init();
  cfg_set_read_only(true);
  text_copy8(InstallDir, sizeof InstallDir, ".");
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  cfg_set_defaults();
  if (size == 0) return 0;
  const char* first = reinterpret_cast<const char*>(data);
  cfg_import_uploaded(first, first + size - 1);
  for (int i = 0; i < cfg_replaced_count(); ++i) {
    char line[200];
    cfg_replaced_text(cfg_replaced(i), line, sizeof line);
  }
  return 0;
}

// Fuzz target of the form parser: URL-encoded, multipart with a boundary parameter, or a body with
// its own MIME line (chosen by the first byte); every field is then read back and checked.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <vector>

#include "service/web/form_data.h"
#include "service/web/http_request.h"
#include "service/web/system_pages.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size == 0) return 0;
  std::vector<char> body(data + 1, data + size);
  body.push_back(0);
  static const char* const kBoundaries[3] = {nullptr, " boundary=XyZ", "boundary="};
  http_parse_form_data(body.data(), kBoundaries[data[0] % 3]);
  if (FormFieldTable.count < 0 || FormFieldTable.count > FORM_FIELDS_MAX) abort();
  size_t total = 0;
  for (int i = 0; i < FormFieldTable.count; ++i) {
    const FormField& f = FormFieldTable.rows[i];
    if (f.name) total += strlen(f.name);
    if (f.filename) total += strlen(f.filename);
    if (f.value) total += strlen(f.value);
    if (f.value && f.value_end && f.value_end + 1 < f.value) abort();
  }
  http_find_field("SYS_UCTOKEN");
  http_form_check_inputs(3, "INF_NAME", "USR_ACCOUNT", "CFG_DEV");
  return total == size_t(-1);
}

// Form handlers of the UPS pages; none are known until the pages are built.
#include "service/pages/form_handlers.h"

#include <cstdio>

#include "service/web/http_request.h"

void web_form_post(HttpConnection*) {
  snprintf(g_reply, sizeof g_reply, "Message: Title=Error\nBody=<font color=#F00000>FIFO_GROUP_POST not found!</font>\n");
}

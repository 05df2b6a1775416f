// Form handlers of the UPS pages; none are known until the pages are built.
#include "service/pages/form_handlers.h"

int web_form_post(HttpConnection*) { return 0; }

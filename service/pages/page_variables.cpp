// Template variables of the UPS pages; none are known until the pages are built.
#include "service/pages/page_variables.h"

int asp_page_variable(HttpConnection*, const char*) { return 0; }

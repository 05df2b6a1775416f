// Template variables of the UPS pages; none are known until the pages are built.
#include "service/pages/page_variables.h"

void asp_page_variable(FILE*, const char*, int, QueryPair*) {}

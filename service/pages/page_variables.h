// Template variables of the UPS pages.
#pragma once
#include "service/web/http_server.h"

void asp_page_variable(FILE* out, const char* name, int pair_count, QueryPair* pairs);

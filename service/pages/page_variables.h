// Template variables of the UPS pages.
#pragma once
#include "service/web/http_server.h"

int asp_page_variable(HttpConnection* connection, const char* name);

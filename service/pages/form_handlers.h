// Form handlers of the UPS pages.
#pragma once
#include "service/web/http_server.h"

void web_form_post(HttpConnection* connection);

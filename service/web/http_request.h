// Routing of a complete request: the session gate, the form layer's reply line, redirects, error
// answers, static files and rendered templates.
#pragma once
#include <cstdint>

#include "service/web/request_state.h"

constexpr int MIME_TYPE_COUNT = 41;

extern const MimeType MIME_TYPES[MIME_TYPE_COUNT];
extern const char* const REPLY_PREFIXES[4];

// The router: called for each complete request.
void http_handle_request(HttpConnection* c);
void http_send_file(HttpConnection* c, const char* file_path);
void http_send_error(HttpConnection* c, int code, const char* reason, const char* detail_format, ...)
    __attribute__((format(printf, 4, 5)));
void http_redirect_https(HttpConnection* c);
const MimeType* http_content_type_for(const char* path);

// Writes every '/' or '\' as one '/' and drops ".." and "." segments after it, in place.
void http_path_normalize(char* path);

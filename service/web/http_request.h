// Routing of a complete request: the session gate, the form layer's reply line, redirects, error
// answers, static files and rendered templates, and the request-scoped state the pages read.
#pragma once
#include <cstdint>

#include "service/web/http_server.h"

constexpr uint32_t REPLY_SIZE = 4096;
constexpr int FORM_FIELDS_MAX = 300;
constexpr int MIME_TYPE_COUNT = 41;

// The web layer's reply and value buffer: a template variable formats its value here, a form
// handler leaves its one reply line here. Cleared before every form handler.
extern char g_reply[REPLY_SIZE];
// Texts of the message page (ERR_TITLE, ERR_MSG, ERR_PATH).
extern char g_message_title[128];
extern char g_message_body[256];
extern char g_message_action[128];

// The client of the request being served: family (2, 23) and address (IPv4 in the first 4 bytes).
struct ClientAddress {
  uint32_t family;
  uint8_t address[16];
};
extern ClientAddress g_client_address;
// Access level the session gate found for this request: 0 admin, 1 device manager, 2 user, -1 none.
extern int32_t g_session_check;

struct FormField {
  char* name;
  char* filename;   // multipart only
  char* value;
  char* value_end;  // last byte of the value, multipart only
};
struct FormFields {
  int32_t count;
  FormField rows[FORM_FIELDS_MAX];
};
// Fields of the last parsed form; they point into the request body.
extern FormFields FormFieldTable;

extern const MimeType MIME_TYPES[MIME_TYPE_COUNT];
extern const char* const REPLY_PREFIXES[4];

// The client of the request as address text (UTF-16, room units), empty when it has none.
void http_client_address_text(char16_t* out, uint32_t room);

// The router: called for each complete request.
void http_handle_request(HttpConnection* c);
void http_send_file(HttpConnection* c, const char* file_path);
void http_send_error(HttpConnection* c, int code, const char* reason, const char* detail_format, ...)
    __attribute__((format(printf, 4, 5)));
void http_redirect_https(HttpConnection* c);
const MimeType* http_content_type_for(const char* path);

// Form data into FormFieldTable (WebServerOps slot 4); the body is cut in place.
void http_parse_form_data(char* body, const char* boundary);
// Stores an uploaded certificate as httpd/cert_web.pem; 1 when stored.
int http_save_uploaded_cert(const FormField* field);

// '%' and two hex digits become that byte; '+' becomes a space when plus_to_space. Returns the length.
uint32_t http_url_decode(const char* src, uint32_t src_len, char* dst, uint32_t dst_size, int plus_to_space);
void http_percent_decode(const char* src, char* dst);
// Writes every '/' or '\' as one '/' and drops ".." and "." segments after it, in place.
void http_path_normalize(char* path);
// Splits text on any of the delimiters (runs count as one) into at most max pieces; returns the count.
int util_split_tokens(char* text, const char* delimiters, int max, char** out);

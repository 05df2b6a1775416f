// Posted form data into FormFieldTable (URL-encoded and multipart bodies, cut in place), the
// uploaded certificate, and the decoding and splitting of URL and query text.
#pragma once
#include <cstdint>

#include "service/web/request_state.h"

// Form data into FormFieldTable (WebServerOps slot 4); the body is cut in place.
void http_parse_form_data(char* body, const char* boundary);
// Stores an uploaded certificate as httpd/cert_web.pem; 1 when stored.
int http_save_uploaded_cert(const FormField* field);

// '%' and two hex digits become that byte; '+' becomes a space when plus_to_space. Returns the length.
uint32_t http_url_decode(const char* src, uint32_t src_len, char* dst, uint32_t dst_size, int plus_to_space);
void http_percent_decode(const char* src, char* dst);
// Splits text on any of the delimiters (runs count as one) into at most max pieces; returns the count.
int util_split_tokens(char* text, const char* delimiters, int max, char** out);

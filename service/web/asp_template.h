// Templates: "<% name %>" tags of .asp and .xml pages replaced by template variables into a
// page in memory, and the escaping every value written into a page goes through.
#pragma once
#include <cstddef>
#include <cstdint>
#include <cstdio>

#include "service/web/request_state.h"

// Writes the value of a template variable (the system pages' asp_device_vars).
typedef void (*AspVariableWriter)(FILE* out, const char* name, int pair_count, QueryPair* pairs);

// Renders the template into memory, its variables written by `variables`: a heap block the caller
// frees into *page, its length into *size. 1 on success, 0 on failure (nothing to free).
int asp_render_page(const char* template_path, int message_page, const char* query, AspVariableWriter variables,
                    char** page, size_t* size);
// Replaces the names enclosed in '#' that equal a query pair's name; the output length when one
// was replaced, else 0.
int asp_replace_tokens(const char* text, size_t out_size, char* out, int pair_count, const QueryPair* pairs);

// Writes data text to a page HTML-escaped (& < > " ').
void asp_write_text(FILE* out, const char* text);
// Writes data text for a JavaScript string inside a script or an event attribute: backslash and
// single quote escaped, the double quote, < > & and anything outside printable ASCII as \uXXXX.
void asp_write_script_text(FILE* out, const char* text);
// True when a query value may replace a tag: not empty, only letters, digits and _ . -
bool asp_query_value_plain(const char* value);
// The HTML-escaped form of text into out (room bytes, terminated, never a cut escape); its length.
size_t asp_escape_html(char* out, size_t room, const char* text);


// Escaping of data written into web pages: HTML text and attribute values, and texts placed
// inside a single-quoted JavaScript string within an HTML attribute (the list rows' onclick).
#pragma once
#include <cstddef>
#include <cstdio>

// The text with & < > " ' as character references into out (room bytes, terminator included);
// never cuts a reference or a UTF-8 sequence. Returns the bytes written, terminator excluded.
size_t html_escape(char* out, size_t room, const char* in);
// The text for a single-quoted JavaScript string inside a double-quoted attribute: the quotes,
// the backslash, & < > and every control character become \xHH, so neither the attribute nor
// the string can be left. Same room and cutting rules as html_escape.
size_t js_escape(char* out, size_t room, const char* in);
// Writes the HTML-escaped text to the file, whatever its length.
void html_write(FILE* out, const char* in);
// Writes the JavaScript-escaped text to the file, whatever its length.
void js_write(FILE* out, const char* in);

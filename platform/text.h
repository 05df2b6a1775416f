// Text helpers of the platform layer, shared by every program: UTF-8 <-> UTF-16 conversion into
// fixed rooms, and the one-byte-per-character form. Every routine ends its output within the room
// it is given and cuts only at a character boundary (a UTF-8 sequence or a surrogate pair is never
// split).
#pragma once
#include <cstddef>
#include <cstdint>

// UTF-8 (in_len bytes, or up to its NUL when in_len is SIZE_MAX) into at most room-1 UTF-16 units
// and a terminator. Invalid sequences become U+FFFD. Returns the units written, terminator excluded.
size_t text_utf8_to_utf16(char16_t* out, size_t room, const char* in, size_t in_len = SIZE_MAX);
// UTF-16 (up to its NUL) into at most room-1 bytes of UTF-8 and a terminator. Lone surrogates
// become U+FFFD. Returns the bytes written, terminator excluded.
size_t text_utf16_to_utf8(char* out, size_t room, const char16_t* in);
// One unit per byte: byte b becomes unit b.
size_t text_bytes_to_utf16(char16_t* out, size_t room, const char* in);
// One byte per unit: units 1 to 255 become that byte, others '?'.
size_t text_utf16_to_bytes(char* out, size_t room, const char16_t* in);

size_t text_len16(const char16_t* s);
// Copies at most room-1 units (never half a surrogate pair) and a terminator.
size_t text_copy16(char16_t* out, size_t room, const char16_t* in);
// Copies at most room-1 bytes and a terminator (8-bit texts; no character boundary rule).
size_t text_copy8(char* out, size_t room, const char* in);
// Copies at most room-1 bytes of UTF-8, cut at a character boundary, and a terminator.
size_t text_copy_utf8(char* out, size_t room, const char* in);
bool text_equal16(const char16_t* a, const char16_t* b);
// Length of the text within a fixed field; the room when no terminator lies inside it.
size_t text_len16_in(const char16_t* s, size_t room);
size_t text_len8_in(const char* s, size_t room);

// Profile-string reads: one value of a "[section]" / "key=value" text file, as the language files
// and the tray's language.ini are read. The file is UTF-8 (a leading byte-order mark is skipped).
#pragma once
#include <cstdint>

// Longest line considered, in bytes; the rest of a longer line is passed over.
constexpr uint32_t PROFILE_LINE_MAX = 65536;

// Copies the value of `key` in `section` of the file at path_utf8 into out (room units with the
// terminator) and returns the units copied, terminator excluded. Section and key names compare
// without regard to case; the first matching key wins; the value is trimmed of surrounding blanks
// and of one pair of enclosing quotes. A missing file, section or key gives default_text (null =
// empty, trailing blanks dropped); so does a file that is no regular file or is larger than 4 MiB.
// A value that does not fit is cut to room-1 units at a character boundary. A null section or key
// also gives the default.
uint32_t profile_get_string(const char16_t* section, const char16_t* key, const char16_t* default_text,
                            char16_t* out, uint32_t room, const char* path_utf8);

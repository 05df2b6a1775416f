// Registry stand-in: string values of HKEY_LOCAL_MACHINE keys, read from an INI-form file whose
// section names are the key paths. The file is /etc/vellmar/registry, or the file named by the
// environment variable VELLMAR_REGISTRY.
#pragma once
#include <cstddef>

// Reads value `name` of key `key` into out (room in bytes, as the registry counts it: room/2 units
// including the terminator). False when the key or value is missing or the value does not fit, and
// when the file is no regular file or larger than 4 MiB (reg_file_problem says so).
bool reg_read_string(const char16_t* key, const char16_t* name, char16_t* out, size_t room_bytes);
// The file that stands in for the registry.
const char* reg_file_path();
// Why the last reg_read_string could not use a registry file that is there: "it is not a regular
// file" or "it is larger than 4 MiB"; null when the file was read, is missing or cannot be opened.
const char* reg_file_problem();

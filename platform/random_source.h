// The system's strong random source, for secrets the programs make themselves.
#pragma once
#include <cstddef>

// Fills out with length random bytes from the kernel's generator (getrandom); false when it
// cannot (out is then not to be used).
bool random_fill(void* out, size_t length);

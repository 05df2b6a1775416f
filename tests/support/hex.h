// Hexadecimal text of bytes and back, for known-answer tests.
#pragma once
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

std::string to_hex(const uint8_t* p, size_t n);
std::vector<uint8_t> from_hex(const std::string& h);

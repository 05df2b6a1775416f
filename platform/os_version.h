// The operating system's version as the extended version query reports it. This platform reports
// itself as major version 10.0, the release whose command texts (firewall) the programs use.
#pragma once
#include <cstdint>

struct OsVersionInfo {
  uint32_t major;
  uint32_t minor;
  uint32_t build;
};

// False when the query fails.
bool os_version_query(OsVersionInfo* out);

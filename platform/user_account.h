// The administrator test of this platform: a user is an administrator when they are root or a
// member of the group "sudo".
#pragma once
#include <cstdint>

bool user_is_administrator(uint32_t uid);
// The user running this process.
uint32_t user_current_id();

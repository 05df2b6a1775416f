// Local user accounts: who owns the other end of a loopback connection, and whether a user is an
// administrator of this machine.
#pragma once
#include <cstdint>

// The user that owns the peer socket of a TCP connection over the loopback (IPv4, or IPv6 with an
// IPv4-mapped or ::1 address), found in the kernel's socket table. False when it cannot be found.
bool account_peer_user(int s, uint32_t* uid);

// True for root and for members of the "sudo" group (primary or supplementary). Membership of
// "adm" only lets a user read the logs and does not count.
bool account_is_administrator(uint32_t uid);

// The user running this process.
uint32_t account_current_user();

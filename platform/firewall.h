// The firewall: an allow rule for incoming connections to a program's ports, as an nftables table
// named for the rule (letters and digits kept, anything else "_") in the inet family. With
// VELLMAR_FIREWALL_SIMULATE naming a file, the nft script is appended there instead and nothing else
// happens; under VELLMAR_TEST without it the calls refuse. Without nft the script is printed.
#pragma once
#include <cstddef>
#include <cstdint>

enum : uint8_t { FIREWALL_TCP = 6, FIREWALL_UDP = 17 };

struct FirewallPort {
  uint8_t protocol;   // FIREWALL_TCP or FIREWALL_UDP
  uint16_t port;      // 0 is skipped
};

// Adds the rule, replacing an older one of the same name. False when nothing was done.
bool firewall_add_rule(const char* rule_name, const FirewallPort* ports, int count);
// Removes the rule; removing one that is not there succeeds.
bool firewall_delete_rule(const char* rule_name);
// The nft script of an add (ports non-null) or a delete (ports null) into out; its length, or 0
// when it does not fit.
size_t firewall_script(char* out, size_t room, const char* rule_name, const FirewallPort* ports, int count);

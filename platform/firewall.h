// The firewall: an allow rule for incoming connections to a program's ports, as an nftables table
// named for the rule (letters and digits kept, anything else "_") in the inet family. With
// VELLMAR_FIREWALL_SIMULATE naming a file, the nft script is appended there instead and nothing else
// happens (no rule set is read: nothing blocks, no rule is in place). VELLMAR_FIREWALL_NFT names the
// nft program to use, also under VELLMAR_TEST (tests set it inside a network namespace of their
// own); under VELLMAR_TEST without either the calls refuse. Without nft the script is printed.
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

// A base chain of another table on the input hook (family inet, ip or ip6) that drops what an accept
// rule of ours lets through.
struct FirewallBlock {
  char family[8];
  char table[64];
  char chain[64];
  bool by_policy;  // its policy is drop; else its last rule drops or rejects every packet
};

// True when the rule's table is in the rule set.
bool firewall_rule_present(const char* rule_name);
// True, with *out filled, when the rule set holds a chain that keeps the rule from taking effect.
bool firewall_find_block(const char* rule_name, FirewallBlock* out);
// The same over the text of `nft list ruleset` (length bytes, not zero-ended).
bool firewall_block_in_listing(const char* listing, size_t length, const char* rule_name, FirewallBlock* out);

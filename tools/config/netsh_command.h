// The console's firewall commands in the command interpreter's netsh syntax, and the reading of those
// commands by this platform's netsh stand-in.
#pragma once
#include <cstddef>
#include <cstdint>

// Room that holds either command with a rule name of 63 bytes and a folder of 259.
constexpr size_t NETSH_COMMAND_ROOM = 512;

// Writes the add (or remove) command for the operating system's major version: the advfirewall form
// from version 6, the older firewall form below. False, with out empty, when the rule name or the
// folder holds a character that the command interpreter would read as its own (quotes, $, `, \,
// separators, wildcards, control characters) or the text does not fit.
bool netsh_build_command(char* out, size_t room, bool add, uint32_t os_major, const char* rule_name,
                         const char* folder);

struct NetshRequest {
  bool add;             // add rule, else delete rule
  char rule_name[64];
  char folder[260];     // the program's folder, "/" separated
};

// Reads netsh's arguments (argv[0] the program) in either form as the command interpreter split
// them; false when they are not an add or delete of a program rule.
bool netsh_parse_arguments(int argc, const char* const* argv, NetshRequest* out);

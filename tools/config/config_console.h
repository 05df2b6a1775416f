// The configuration console Ostrel: a menu of screens answered by single keys (or, when the program
// has arguments, by one argument per prompt) that edits eight settings of agent.ini, saves the file,
// sets the firewall rule of the service program and restarts the service.
#pragma once
#include <cstdint>

enum : int32_t {
  SCREEN_MENU = 0,
  SCREEN_TRAP_PORT = 1,
  SCREEN_SNMP_PORT = 2,
  SCREEN_HTTP_PORT = 5,
  SCREEN_HTTPS_PORT = 6,
  SCREEN_FIREWALL = 9,
  SCREEN_SAVE_BEFORE_EXIT = 11,
  SCREEN_RESTART_BEFORE_EXIT = 12,
  SCREEN_TERMINATED = 13,
};

constexpr int CONSOLE_ANSWER_ROOM = 64;

extern int32_t ConsoleScreen;            // the screen shown next
extern bool ConsoleUnsaved;              // a setting changed since the last save
extern bool ConsoleSavedNotRestarted;    // saved, and the service not restarted since
extern uint32_t ConsoleOsMajor;          // operating-system major version, 0 when unknown

// Program entry: 0; 1 when an argument is refused (longer than the answer area), and in scripted
// mode when an answer was refused or a save, a firewall command or a restart failed.
int cfgtool_main(int argc, char** argv);
void cfgtool_show_screen(int32_t code);
// One answer of a key prompt / a number prompt into answer (CONSOLE_ANSWER_ROOM bytes); false when
// there is none (the arguments ran out, or the input ended).
bool cfgtool_read_key(char* answer);
bool cfgtool_read_number(char* answer);
// Stops the service, waits until it has stopped (at most 30 s) and starts it: 1 when it started
// again and still runs 2 s later, 0 when the service manager or the service could not be opened or
// it did not stop or start (cfgtool_restart_reason then tells why).
int32_t cfgtool_restart_service();
const char* cfgtool_restart_reason();

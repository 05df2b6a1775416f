// The settings file agent.ini: writer, reader with version migration, and the import of an
// uploaded copy. Every program carries the same writer and reader.
#pragma once
#include <cstddef>
#include <cstdint>
#include <cstdio>

constexpr int INI_FORMAT_VERSION = 8;
constexpr uint32_t INI_SECTION_COUNT = 14;

// Section names, index = section number; 13 "End" closes the file.
extern const char* const IniSections[INI_SECTION_COUNT];
// The value of the last "Version=" line read by this process; 0 until one is read.
extern int32_t IniVersion;

// Writes the whole file from the records (through a temporary copy of a unique name and a rename).
// A new file is readable by its owner only; a replaced one keeps its owner and group and its mode
// without any access for others. Nothing is written while the file is present but unreadable to
// this program, or damaged and not kept aside. True when the file was replaced.
bool cfg_save();
// Told of every save of a program that may write (saved, the file's path, why it failed: "" when
// saved). The service reports failed saves through it.
typedef void (*CfgSaveObserver)(bool saved, const char* path, const char* reason);
void cfg_set_save_observer(CfgSaveObserver observer);
// A program that only reads the settings (the tray) never writes agent.ini, not even to migrate it.
void cfg_set_read_only(bool read_only);
// Reads the file at path (null: <install>/agent.ini) into the records and migrates an older version;
// only <install>/agent.ini is written back (as version 8), and only the service's start creates it.
// Lines end in CR LF (CR CR LF and LF read alike); a line longer than any the writer makes is read
// up to its room and the rest skipped. Only a regular file of at most 4 MiB is read. When
// <install>/agent.ini is missing, or there but not readable, the factory settings are taken (the
// latter file is never written by this program); another file that cannot be read changes nothing.
// Every numeric key is checked against the settings table (settings_ranges.h): a value that is not
// a number (a zero byte in it too) takes its factory value, one outside its range the nearer end,
// a list count outside its table the count the list had; a numeric key missing from a version-8
// <install>/agent.ini takes its factory value. Each such key is listed by cfg_replaced until the
// next load. A last line without its line end is read only when it is "[End]".
void cfg_load(const char* path);

// The service's start: <install>/agent.ini read over the factory settings.
enum CfgStartState : uint8_t {
  CFG_START_LOADED,      // a whole file (one of an older version migrated)
  CFG_START_CREATED,     // there was none: the factory settings, written as a new file
  CFG_START_DAMAGED,     // no "[End]", text after it, no "Version=" or over 4 MiB: factory values with
                         // the keys read over them
  CFG_START_IS_FOLDER,   // agent.ini is a folder: nothing loaded, never written
  CFG_START_UNREADABLE,  // agent.ini cannot be read or is no regular file: nothing loaded, never written
  CFG_START_MISSING,     // a check only (cfg_check_own_file): there is none, nothing was written
};
struct CfgStartReport {
  CfgStartState state;
  char reason[96];        // what is wrong, for the damaged and refused states
  bool kept;              // damaged, or loaded with keys named: its bytes are in agent.ini.damaged (0600)
  bool factory_accounts;  // damaged: [Web] or [USM] was not read whole, their factory entries stand
  bool phrases_made;      // created, or damaged without them: the first SNMPv3 user got pass phrases
                          // of its own (cfg_make_manager_phrases) in place of the factory pair
  bool phrases_failed;    // they were to be made, but the random source failed: the factory pair stands
};
// A damaged file's bytes, and those of a whole one with keys named (cfg_replaced), go to
// agent.ini.damaged before anything is written; when they cannot be kept, agent.ini is not replaced
// by this process.
CfgStartState cfg_load_at_start(CfgStartReport* report);
// The same judgement of <install>/agent.ini as the service's start, for a program that must not
// change a file the start would keep (the console): it loads the records but writes nothing, keeps
// nothing and makes no pass phrases.
CfgStartState cfg_check_own_file(CfgStartReport* report);

// A key whose value the last load replaced: "[Section] Key" (list fields with their index), the
// text found ("(missing)" for a missing key) and the value used.
constexpr int CFG_REPLACED_MAX = 64;
struct CfgReplacedKey {
  char key[48];
  char found[40];
  int64_t used;
};
int cfg_replaced_count();
const CfgReplacedKey* cfg_replaced(int i);
// The line that names one: agent.ini: key [Web] HTTP Port has value "99999", 65535 used
void cfg_replaced_text(const CfgReplacedKey* key, char* out, size_t room);
// Applies one line (without its line end) of the given section (0 to 12) to the records.
void cfg_parse_line(uint32_t section, const char* line);
// 1 as soon as a line beginning "[End]" is read; otherwise rewinds the file and returns 0.
int cfg_file_has_end(FILE* file);
// Applies an uploaded settings file held in first..last (both included) over the settings in use
// and saves it. Nothing is written unless it is taken.
enum CfgImportResult : uint8_t {
  CFG_IMPORT_REFUSED,    // no "[End]" line, or a number of it outside its range or not a number
                         // (cfg_replaced lists them): nothing changed
  CFG_IMPORT_APPLIED,    // applied and saved
  CFG_IMPORT_NOT_SAVED,  // agent.ini could not be written: the settings in use are left as they were
};
CfgImportResult cfg_import_uploaded(const char* first, const char* last);

// Stored-password coding by storing mode (0 plain, 1 crypt64, 2 AES-256 blocks in crypt64).
// cfg_code_secret writes the stored text of `length` plain bytes into out (room 256 bytes).
void cfg_code_secret(uint8_t mode, const char* plain, int length, char* out);
// cfg_decode_secret turns a stored text into the plain bytes, ended by a zero, in out (room 256);
// text that does not decode gives the empty text.
void cfg_decode_secret(uint8_t mode, const char* stored, char* out);
// The login-link token of a web password: its UTF-8 form coded as in mode 2, as UTF-16 (room units).
void cfg_encrypt_password(const char16_t* password, char16_t* token, int room);

// Event log file "<install>/_FILE_LOG.TXT": one UTF-8 line per event, CR LF ended, oldest first,
// "source level MM/DD/YYYY hh:mm:ss message". Held at most EVENT_LOG_MAX_LINES lines by
// dropping the oldest in blocks through "Temp.Log". Other modules reach these through EventApi.
#pragma once
#include <cstddef>
#include <cstdint>

#include "platform/clock.h"

constexpr uint32_t EVENT_LOG_MAX_LINES = 10000;
constexpr uint32_t EVENT_LOG_TRIM_LINES = 2500;
constexpr uint32_t EVENT_LOG_LINE_BYTES = 256;   // room of a line read back, terminator included
constexpr uint32_t EVENT_MESSAGE_UNITS = 260;    // room of a formatted message, UTF-16 units
constexpr uint32_t EVENT_MESSAGE_BYTES = 256;    // room of the message's UTF-8 form
constexpr uint32_t EVENT_SOURCE_BYTES = 64;      // room of the source's UTF-8 form
constexpr int EVENT_MAX_ARGS = 6;

// Lines in the log file; set at start and kept by evt_log, the trim and evt_clear_log, and
// counted afresh whenever the file turns out to have changed under the module.
extern uint32_t event_log_line_count;

// Reads the log at start: sets the file private (0600), counts its lines and keeps its newest
// lines in memory (as many as the line limit, in at most 4 MiB).
void evt_load_log();
// Hands the lines numbered first, first + 1, ... (1 the oldest) in turn to take, each writable,
// terminated and with its line end as the file holds it, until take returns false or the lines
// end. They come from the in-memory copy when it holds them, else from the file; a file that
// changed under the module is read afresh first. False, with nothing handed, when the log cannot
// be read.
using EventLineTaker = bool (*)(void* context, char* line, size_t length);
bool evt_each_line(uint32_t first, EventLineTaker take, void* context);
// True when the log file could be read (after following a change of the file).
bool evt_log_readable();
// event_log_line_count after following a change of the file.
uint32_t evt_line_count();

void evt_log(const char16_t* source, uint32_t level, const char16_t* text, ...);
int evt_read_recent_line(uint32_t n, char* out);
int evt_split_line(char* line, char** source, char** level, char** date, char** time, char** message);
int evt_clear_log();
// Lines in the log file (a last line without an end counts); 0 when it cannot be opened.
uint32_t evt_count_lines();
// Removes the oldest n lines through Temp.Log; nonzero on success, the log unchanged otherwise.
int evt_trim_oldest(uint32_t n);

// Fills the "%s" places of text with the arguments in order into out (room units with the
// terminator): a "%s" past the last argument becomes empty, "%%" becomes "%", every other "%"
// is copied as it stands. With no arguments the text is copied unchanged. Cuts at a character
// boundary; returns the units written.
uint32_t evt_format_message(char16_t* out, uint32_t room, const char16_t* text, const char16_t* const* args,
                            int arg_count);
// Composes one log line with its CR LF into out (room bytes); returns its length.
uint32_t evt_compose_line(char* out, uint32_t room, const char* source, uint32_t level, const SystemTime& t,
                          const char* message);

// Renames Temp.Log over the log at the end of a trim; the C library's rename unless a test
// replaces it to stop a trim at that point.
extern int (*evt_trim_rename)(const char* from, const char* to);

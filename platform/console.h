// The console as the C runtime offers it to a console program: waiting for one key and reading it
// without echo (the terminal in raw mode while keys are read), writing text and single characters,
// and the message box of a program without a desktop, which goes to standard error.
#pragma once

enum : int {
  CONSOLE_KEY_END = -1,   // the input has ended (closed terminal or end of file)
  CONSOLE_KEY_ENTER = 13,
  CONSOLE_KEY_BACKSPACE = 8,
};

// Puts the terminal of standard input into raw mode (no line editing, no echo, output bytes written
// as they are) until console_raw_end or the program's end; nothing when it is not a terminal.
void console_raw_begin();
// Gives the terminal back its own mode.
void console_raw_end();
// Waits for one key and returns it without echo: Enter as CONSOLE_KEY_ENTER, Backspace and Delete
// as CONSOLE_KEY_BACKSPACE, other bytes as they come (0 to 255).
int console_get_key();
void console_put_char(char c);
// Writes the text to standard output and flushes it.
void console_write(const char* text);
// A message box with an OK button: the caption (when not empty) and the text on standard error.
void console_message_box(const char* text, const char* caption);

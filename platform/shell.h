// Starting documents and command files the way a desktop "open" does, and writing command files.
// A started file runs hidden (no terminal, standard streams on /dev/null), detached from the service
// in a session of its own, with its own folder as working directory.
#pragma once
#include <cstddef>
#include <cstdint>

// Starts the file at path (UTF-8). A file ending in ".cmd", ".sh" or ".bat", or one that is not
// executable, is run by /bin/sh; any other executable file is run directly. With wait_ms 0 the
// call returns at once; otherwise it waits up to wait_ms for the process to end, and leaves it
// running after that. False when nothing could be started.
bool shell_open(const char* path, uint32_t wait_ms);

// Writes a command file readable and writable only by the service's user (it may hold passwords),
// replacing what was there. False when it cannot be written.
bool shell_write_command_file(const char* path, const char* data, size_t length);

// Keeps a log that started command files append to readable and writable only by the service's
// user: an existing one (a plain file, not a link) is set to 0600; with create, a missing one is
// made empty with 0600 whatever the umask. False when there is none (and none was made) or it is
// no plain file.
bool shell_private_log(const char* path, bool create);

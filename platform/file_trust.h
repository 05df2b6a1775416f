// Whether a file the service is about to run as its own user can be trusted: nobody else can have
// written it or swapped it, the way sshd's StrictModes judges a user's key files.
#pragma once
#include <cstddef>

// True when path names an existing regular file or folder that is owned by root (or by the
// service's own user) and not writable by group or others, and every folder above it up to "/"
// is owned the same way and not writable by group or others; a root-owned folder with the
// sticky bit (such as /tmp) counts as safe. Symbolic links are resolved first and the resolved
// path is what is checked; it goes into resolved (room bytes), and the caller runs that path.
// False otherwise, with a short English reason in reason (reason_room bytes).
bool file_trusted(const char* path, char* resolved, size_t room, char* reason, size_t reason_room);

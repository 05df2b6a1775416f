// Whether a file the service is about to run as its own user can be trusted: nobody else can have
// written it or swapped it, the way sshd's StrictModes judges a user's key files.
#pragma once
#include <cstddef>

enum FileTrustKind { TRUST_FILE, TRUST_FOLDER };
enum FileTrust {
  FILE_TRUSTED,      // there, of the kind asked, and nobody else can have changed it
  FILE_ABSENT,       // not there, and only root (or the service's user) could make it
  FILE_NOT_TRUSTED,  // anything else: the reason says what
};

// Walks path element by element from "/" (a relative path from the current folder). Every folder
// on the way and the element at its end must be owned by root (or by the service's own user) and
// not writable by group or others, a root-owned folder with the sticky bit (such as /tmp) counting
// as safe for what is in it; every symbolic link on the way must be owned the same way, and its
// target is walked the same way. The end must be a regular file (TRUST_FILE) or a folder
// (TRUST_FOLDER). FILE_ABSENT when an element is missing from a trusted folder that is not sticky;
// missing from a sticky one, anyone could make it: FILE_NOT_TRUSTED. The path with its links
// resolved goes into resolved (room bytes) when trusted, and the caller runs that path. A short
// English reason goes into reason (reason_room bytes) unless trusted.
FileTrust file_trusted(const char* path, FileTrustKind kind, char* resolved, size_t room, char* reason,
                       size_t reason_room);

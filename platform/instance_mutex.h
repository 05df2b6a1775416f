// Named single-instance mutex: a second process asking for the same name learns that it exists.
// Names are scoped to the network namespace and to the registry stand-in file in use, so tests
// with their own registry file or namespace never meet the installed service. The service's own
// lock is a locked file in its installation folder instead, which only the folder's owner can take.
#pragma once
#include <cstddef>

struct InstanceMutex {
  int handle;  // the socket that holds the name, or the open locked file; -1 none
};

enum InstanceMutexResult { INSTANCE_MUTEX_CREATED = 1, INSTANCE_MUTEX_EXISTS = 0, INSTANCE_MUTEX_FAILED = -1 };

InstanceMutexResult instance_mutex_create(const char16_t* name, InstanceMutex* out);
// The lock of the file at path (flock, held until released or the process ends, however it ends):
// the file is made with mode 0600 when missing, and must be a plain file of this process's user,
// not a link; every spelling of its folder meets the same lock. CREATED: held, this process's pid
// written into the file. EXISTS: another process holds it; *holder_pid is the pid that process
// wrote, 0 when not known. FAILED: the file cannot be opened or is not this user's plain file; a
// short English reason in reason (room bytes).
InstanceMutexResult instance_mutex_create_file(const char* path, InstanceMutex* out, int* holder_pid, char* reason,
                                               size_t room);
void instance_mutex_release(InstanceMutex* mutex);

// Named single-instance mutex: a second process asking for the same name learns that it exists.
// Names are scoped to the network namespace and to the registry stand-in file in use, so tests
// with their own registry file or namespace never meet the installed service.
#pragma once

struct InstanceMutex {
  int handle;  // the socket that holds the name, -1 none
};

enum InstanceMutexResult { INSTANCE_MUTEX_CREATED = 1, INSTANCE_MUTEX_EXISTS = 0, INSTANCE_MUTEX_FAILED = -1 };

InstanceMutexResult instance_mutex_create(const char16_t* name, InstanceMutex* out);
// The same name scoped to a folder instead of the registry file: every spelling of the folder
// (links, "." and "..", a trailing slash) gives the one real path, so two registry files or two
// spellings of one folder meet the same mutex.
InstanceMutexResult instance_mutex_create_for_folder(const char16_t* name, const char* folder, InstanceMutex* out);
void instance_mutex_release(InstanceMutex* mutex);

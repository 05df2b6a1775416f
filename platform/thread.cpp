// Linux back end of thread start.
#include "platform/thread.h"

#include <pthread.h>

static void* run(void* routine) {
  reinterpret_cast<void (*)()>(routine)();
  return nullptr;
}

bool thread_start(void (*routine)()) {
  pthread_t thread;
  if (pthread_create(&thread, nullptr, run, reinterpret_cast<void*>(routine)) != 0) return false;
  pthread_detach(thread);
  return true;
}

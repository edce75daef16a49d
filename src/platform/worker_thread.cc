// Starting the detached worker threads of the proxy.
#include "platform/worker_thread.h"

#include <pthread.h>

bool StartWorkerThread(void* (*entry)(void*), void* argument) {
  pthread_attr_t attributes;
  if (::pthread_attr_init(&attributes) != 0) return false;
  bool ready = ::pthread_attr_setstacksize(&attributes, kWorkerStackSize) == 0 &&
               ::pthread_attr_setdetachstate(&attributes, PTHREAD_CREATE_DETACHED) == 0;
  pthread_t thread;
  const bool started = ready && ::pthread_create(&thread, &attributes, entry, argument) == 0;
  ::pthread_attr_destroy(&attributes);
  return started;
}

// The fatal-error routine and the mutex wrappers that call it.
#pragma once

#include <pthread.h>

// Logs "[ERROR] die: <text>" at LOG_ERR, asks libmilter to stop so shutdown
// runs on the main thread, waits 60 seconds for that, then aborts. In a
// program that does not link libmilter (the root daemon) it aborts at once.
[[noreturn]] void die(const char* text);

// pthread_mutex_lock / unlock; any failure is fatal (die).
void lock_mutex(pthread_mutex_t* mutex);
void unlock_mutex(pthread_mutex_t* mutex);

// Holds a mutex for one scope through lock_mutex / unlock_mutex.
class mutex_guard {
 public:
  explicit mutex_guard(pthread_mutex_t* mutex) : mutex_(mutex) { lock_mutex(mutex_); }
  ~mutex_guard() { unlock_mutex(mutex_); }
  mutex_guard(const mutex_guard&) = delete;
  mutex_guard& operator=(const mutex_guard&) = delete;

 private:
  pthread_mutex_t* mutex_;
};

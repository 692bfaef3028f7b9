// The fatal-error routine and the mutex wrappers (see die.hpp).
#include "common/die.hpp"

#include <chrono>
#include <cstdlib>
#include <libmilter/mfapi.h>
#include <syslog.h>
#include <thread>
#include <unistd.h>

#include "common/log_sink.hpp"

// Weak: a program without libmilter (the root daemon) links without it, and
// the address is then null.
#pragma weak smfi_stop

void die(const char* text) {
  log_line(LOG_ERR, "[ERROR] die: %s", text);
  if (&smfi_stop != nullptr) {
    smfi_stop();
    std::this_thread::sleep_for(std::chrono::seconds(60));
  }
  std::abort();
}

void lock_mutex(pthread_mutex_t* mutex) {
  if (pthread_mutex_lock(mutex) != 0) die("pthread_mutex_lock");
}

void unlock_mutex(pthread_mutex_t* mutex) {
  if (pthread_mutex_unlock(mutex) != 0) die("pthread_mutex_unlock");
}

#include "common/die.hpp"

#include <cstdlib>
#include <libmilter/mfapi.h>
#include <syslog.h>
#include <unistd.h>

#include "common/log_sink.hpp"

void die(const char* text) {
  log_line(LOG_ERR, "[ERROR] die: %s", text);
  smfi_stop();
  sleep(60);
  std::abort();
}

void lock_mutex(pthread_mutex_t* mutex) {
  if (pthread_mutex_lock(mutex) != 0) die("pthread_mutex_lock");
}

void unlock_mutex(pthread_mutex_t* mutex) {
  if (pthread_mutex_unlock(mutex) != 0) die("pthread_mutex_unlock");
}

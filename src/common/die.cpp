#include "common/die.hpp"

#include <chrono>
#include <cstdlib>
#include <libmilter/mfapi.h>
#include <syslog.h>
#include <thread>
#include <unistd.h>

#include "common/log_sink.hpp"

void die(const char* text) {
  log_line(LOG_ERR, "[ERROR] die: %s", text);
  smfi_stop();
  std::this_thread::sleep_for(std::chrono::seconds(60));
  std::abort();
}

void lock_mutex(pthread_mutex_t* mutex) {
  if (pthread_mutex_lock(mutex) != 0) die("pthread_mutex_lock");
}

void unlock_mutex(pthread_mutex_t* mutex) {
  if (pthread_mutex_unlock(mutex) != 0) die("pthread_mutex_unlock");
}

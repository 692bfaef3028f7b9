// Threads started with signals blocked (see quiet_thread.hpp).
#include "common/quiet_thread.hpp"

sigset_t signals_of(std::initializer_list<int> numbers) {
  sigset_t signals;
  sigemptyset(&signals);
  for (int number : numbers) sigaddset(&signals, number);
  return signals;
}

int create_thread_blocking(pthread_t& handle, void* (*start)(void*), void* argument,
                           const sigset_t& blocked) {
  sigset_t previous;
  pthread_sigmask(SIG_BLOCK, &blocked, &previous);
  int result = pthread_create(&handle, nullptr, start, argument);
  pthread_sigmask(SIG_SETMASK, &previous, nullptr);
  return result;
}

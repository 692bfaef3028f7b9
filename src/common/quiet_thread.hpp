// Threads that leave some signals to others.
//
// libmilter's signal thread turns SIGHUP, SIGTERM and SIGINT into a stop of
// the main loop, and the reload thread waits for SIGUSR1 and SIGUSR2; every
// other thread of the daemon must keep them blocked, or the kernel may
// deliver one of them there. A thread inherits its creator's mask, so the
// creator blocks them around pthread_create.
#pragma once

#include <pthread.h>
#include <signal.h>

#include <initializer_list>

// A signal set of these numbers.
sigset_t signals_of(std::initializer_list<int> numbers);

// pthread_create's result; the new thread starts with `blocked` blocked in
// addition to the caller's mask, which is unchanged afterwards.
int create_thread_blocking(pthread_t& handle, void* (*start)(void*), void* argument,
                           const sigset_t& blocked);

#include "checks/spf_cache_mutex.hpp"

// Statically initialised as well, so code that runs without the daemon's
// start-up (unit tests, benchmarks) can take it; start-up initialises it again.
pthread_mutex_t spf_cache_mutex = PTHREAD_MUTEX_INITIALIZER;

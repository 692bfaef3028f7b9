// The one mutex of the daemon's own code. It guards the SPF result cache.
// Start-up initialises it before the main loop and shutdown destroys it; in
// between it is taken only through lock_mutex / unlock_mutex.
#pragma once

#include <pthread.h>

extern pthread_mutex_t spf_cache_mutex;

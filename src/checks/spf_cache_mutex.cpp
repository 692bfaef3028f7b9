#include "checks/spf_cache_mutex.hpp"

pthread_mutex_t spf_cache_mutex;

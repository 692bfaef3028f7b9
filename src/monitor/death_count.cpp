// Counting recent deaths (see death_count.hpp).
#include "monitor/death_count.hpp"

bool death_count::too_many_after(clock::time_point now) {
  recent_.push_back(now);
  while (!recent_.empty() && now - recent_.front() >= window) recent_.pop_front();
  return recent_.size() > allowed_deaths;
}

// Counting the filter processes that died by a signal.
//
// The monitor replaces each one, unless more than five died within sixty
// seconds: a filter that dies that often would only keep dying, and the
// service manager's policy should take over.
#pragma once

#include <chrono>
#include <deque>

class death_count {
 public:
  using clock = std::chrono::steady_clock;

  // Notes a death at `now`; true when it makes more than five within the
  // last sixty seconds.
  bool too_many_after(clock::time_point now);

 private:
  std::deque<clock::time_point> recent_;
};

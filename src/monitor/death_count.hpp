// Counting the filter processes that died by a signal.
//
// The monitor replaces each one, unless more than five died within sixty
// seconds: a filter that dies that often would only keep dying, and the
// service manager's policy should take over.
#pragma once

#include <chrono>
#include <cstddef>
#include <deque>

class death_count {
 public:
  using clock = std::chrono::steady_clock;
  // The deaths tolerated within one window; one more stops the monitor.
  static constexpr std::size_t allowed_deaths = 5;
  static constexpr std::chrono::seconds window{60};

  // Notes a death at `now`; true when it makes more than allowed_deaths
  // within the last window.
  bool too_many_after(clock::time_point now);

 private:
  std::deque<clock::time_point> recent_;
};

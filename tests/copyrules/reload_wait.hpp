// Test helper: waiting for the reload thread's log lines.
#pragma once

#include <syslog.h>

#include <chrono>
#include <cstddef>
#include <string>
#include <thread>

#include "fake_milter/log_capture.hpp"

namespace copyrules_test {

inline std::size_t reload_count(const fake_milter::log_capture& logs) {
  std::size_t count = 0;
  for (const auto& line : logs.lines()) {
    if (line.priority == LOG_INFO && line.text == "TESLO reload") ++count;
  }
  return count;
}

// Waits (generously; this is a liveness bound, not a speed check) until at
// least `count` reloads were logged. Returns false when they never come.
inline bool wait_for_reloads(const fake_milter::log_capture& logs, std::size_t count) {
  auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(30);
  while (reload_count(logs) < count) {
    if (std::chrono::steady_clock::now() > deadline) return false;
    std::this_thread::sleep_for(std::chrono::milliseconds(2));
  }
  return true;
}

}  // namespace copyrules_test

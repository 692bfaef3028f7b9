// What the monitor serves on the channel of one filter process, and when.
//
// A new gate for every filter process, in the state "starting". Then:
// - ready ('R' alone): once, in "starting"; the process is then "serving".
// - metrics ('M' and the text): only when the monitor has a metrics file to
//   write, and only once the process is "serving"; the text is not empty
//   and holds no NUL byte.
// - spawner ('S' or 'A' alone): once the process is "serving" (SPF
//   questions and archives come from the connections it serves), as often
//   as it asks.
// Anything else (an empty or truncated packet, an unknown request, a second
// ready, metrics too early or without a file) is a fault: the monitor logs
// one line with the reason and closes the channel; the filter process
// serves on without it.
#pragma once

#include <string_view>

enum class channel_action { mark_ready, write_metrics, start_spawner, fault };

struct channel_verdict {
  channel_action action;
  const char* fault_reason = nullptr;  // fault: what was wrong
};

class channel_gate {
 public:
  explicit channel_gate(bool metrics_file) : metrics_file_(metrics_file) {}

  // Judges one packet (`truncated`: it was longer than the channel allows)
  // and moves the state on when it is served.
  channel_verdict judge(std::string_view packet, bool truncated);

  bool serving() const { return serving_; }

 private:
  bool metrics_file_;
  bool serving_ = false;
};

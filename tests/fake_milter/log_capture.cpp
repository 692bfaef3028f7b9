#include "fake_milter/log_capture.hpp"

#include <mutex>

#include "support/log_writer.hpp"

namespace fake_milter {
namespace {

std::mutex captured_mutex;
std::vector<logged_line> captured;

void capture(int priority, const char* text) {
  std::lock_guard lock(captured_mutex);
  captured.push_back({priority, text});
}

}  // namespace

log_capture::log_capture() {
  clear();
  set_log_writer(capture);
}

log_capture::~log_capture() { set_log_writer(nullptr); }

std::vector<logged_line> log_capture::lines() const {
  std::lock_guard lock(captured_mutex);
  return captured;
}

std::vector<std::string> log_capture::texts() const {
  std::vector<std::string> result;
  for (const auto& line : lines()) result.push_back(line.text);
  return result;
}

bool log_capture::contains(int priority, const std::string& text) const {
  for (const auto& line : lines()) {
    if (line.priority == priority && line.text == text) return true;
  }
  return false;
}

void log_capture::clear() {
  std::lock_guard lock(captured_mutex);
  captured.clear();
}

}  // namespace fake_milter

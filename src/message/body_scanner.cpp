// Line assembly and attachment-pattern test of the body scan (see the header).
#include "message/body_scanner.hpp"

#include <algorithm>
#include <cstring>

#include "common/text.hpp"

namespace {

constexpr std::size_t line_max = body_line_size - 1;  // bytes a line can hold

bool is_upper(unsigned char byte) { return byte >= 'A' && byte <= 'Z'; }
bool is_letter(unsigned char byte) { return is_upper(byte) || (byte >= 'a' && byte <= 'z'); }

bool equal_ignoring_case(const unsigned char* text, const char* needle, std::size_t count) {
  for (std::size_t i = 0; i < count; ++i) {
    if (lower_ascii_byte(text[i]) != static_cast<unsigned char>(needle[i])) return false;
  }
  return true;
}

// The position of the next '=' at or after `from`, or `end` when none.
std::size_t next_equals(const unsigned char* chunk, std::size_t from, std::size_t end) {
  const void* found = std::memchr(chunk + from, '=', end - from);
  return found == nullptr
             ? end
             : static_cast<std::size_t>(static_cast<const unsigned char*>(found) - chunk);
}

struct line_scan {
  char (&line)[body_line_size];
  const body_scan_pattern& pattern;
  body_match_hook hook;
  void* user;
  body_scan_result result{0, false};

  // Tests the complete line line[0, size), which ended before chunk offset
  // `end`, and reports a match; true to stop.
  bool test_buffered(std::size_t size, std::size_t end) {
    line[size] = '\0';
    if (regexec(pattern.pattern, line, 0, nullptr, 0) != 0) return false;
    ++result.matches;
    if (hook != nullptr && hook(user, end)) result.stopped = true;
    return result.stopped;
  }

  bool may_match(const char* text, std::size_t size) const {
    return pattern.required_text == nullptr ||
           contains_ignoring_case(text, size, pattern.required_text);
  }
};

}  // namespace

bool contains_ignoring_case(const char* text, std::size_t length, const char* needle) {
  std::size_t needle_len = std::strlen(needle);
  if (needle_len == 0) return true;
  if (length < needle_len) return false;
  const auto* bytes = reinterpret_cast<const unsigned char*>(text);
  auto last = static_cast<unsigned char>(needle[needle_len - 1]);
  if (is_letter(last)) {
    for (std::size_t at = 0; at + needle_len <= length; ++at) {
      if (equal_ignoring_case(bytes + at, needle, needle_len)) return true;
    }
    return false;
  }
  // The last needle byte is not a letter, so it matches only itself: look for
  // it with memchr and compare the bytes before it.
  std::size_t from = needle_len - 1;
  while (from < length) {
    const void* found = std::memchr(bytes + from, last, length - from);
    if (found == nullptr) return false;
    std::size_t at = static_cast<std::size_t>(static_cast<const unsigned char*>(found) - bytes);
    if (equal_ignoring_case(bytes + at + 1 - needle_len, needle, needle_len - 1)) return true;
    from = at + 1;
  }
  return false;
}

body_scan_result scan_body_chunk(char (&line)[body_line_size], int32_t& line_len,
                                 const unsigned char* chunk, std::size_t length,
                                 const body_scan_pattern& pattern, body_match_hook hook,
                                 void* user) {
  line_scan scan{line, pattern, hook, user};
  if (chunk == nullptr || length == 0) return scan.result;
  // A line without '=' cannot hold a required text that ends in '='; knowing
  // where the next '=' is lets most lines skip the text search.
  const bool use_equals = pattern.required_text != nullptr && pattern.required_text[0] != '\0' &&
                          pattern.required_text[std::strlen(pattern.required_text) - 1] == '=';
  const std::size_t end = std::min(length, body_chunk_scan_limit);
  std::size_t equals_at = use_equals ? next_equals(chunk, 0, end) : 0;
  std::size_t pos = 0;
  while (pos < end) {
    const auto held = static_cast<std::size_t>(line_len);
    const std::size_t room = line_max - held;  // the byte after these ends the line
    const std::size_t window = std::min(end - pos, room + 1);
    const unsigned char* start = chunk + pos;
    const void* feed = std::memchr(start, '\n', window);
    std::size_t taken;  // chunk bytes that join the line before its ending byte
    if (feed != nullptr) {
      taken = static_cast<std::size_t>(static_cast<const unsigned char*>(feed) - start);
    } else if (window == room + 1) {
      taken = room;  // the buffer is full: the next byte ends the line and is dropped
    } else {
      std::memcpy(line + held, start, window);  // the line goes on in a later chunk
      line_len = static_cast<int32_t>(held + window);
      break;
    }
    pos += taken + 1;
    line_len = 0;
    std::size_t size = held + taken;
    if (size != 0) {
      unsigned char before_end =
          taken != 0 ? start[taken - 1] : static_cast<unsigned char>(line[held - 1]);
      if (before_end == '\r') --size;
    }
    if (pattern.pattern == nullptr) continue;
    if (held != 0) {
      std::memcpy(line + held, start, taken);
      if (scan.may_match(line, size) && scan.test_buffered(size, pos)) break;
      continue;
    }
    if (use_equals) {
      if (equals_at < pos - 1 - taken) equals_at = next_equals(chunk, pos - 1 - taken, end);
      if (equals_at >= pos - 1 - taken + size) continue;  // no '=' in this line
    }
    if (!scan.may_match(reinterpret_cast<const char*>(start), size)) continue;
    std::memcpy(line, start, size);
    if (scan.test_buffered(size, pos)) break;
  }
  return scan.result;
}

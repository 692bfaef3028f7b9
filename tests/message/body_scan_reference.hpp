// The body scan done the plain way, one byte at a time with regexec on every
// line, as the behaviour is defined. The fast scanner must agree with it.
#pragma once

#include <algorithm>
#include <regex.h>

#include "message/body_scanner.hpp"

inline body_scan_result reference_scan_body_chunk(char (&line)[body_line_size], int32_t& line_len,
                                                  const unsigned char* chunk, std::size_t length,
                                                  const regex_t* pattern, body_match_hook hook,
                                                  void* user) {
  body_scan_result result{0, false};
  const std::size_t end = std::min(length, body_chunk_scan_limit);
  for (std::size_t i = 0; i < end; ++i) {
    line[line_len] = static_cast<char>(chunk[i]);
    if (chunk[i] == '\n' || line_len == 2047) {
      if (line_len != 0 && line[line_len - 1] == '\r') {
        line[line_len - 1] = '\0';
      } else {
        line[line_len] = '\0';
      }
      line_len = 0;
      if (pattern != nullptr && regexec(pattern, line, 0, nullptr, 0) == 0) {
        ++result.matches;
        if (hook != nullptr && hook(user, i + 1)) {
          result.stopped = true;
          return result;
        }
      }
    } else {
      ++line_len;
    }
  }
  return result;
}

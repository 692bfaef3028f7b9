// Appends texts to a fixed buffer and never writes past it: what does not
// fit is cut off, as snprintf cuts (at most size - 1 characters, always
// terminated). Used where a text is built for every message or log line and
// snprintf would cost several times as much.
#pragma once

#include <algorithm>
#include <cstddef>
#include <cstring>

class bounded_text {
 public:
  bounded_text(char* out, std::size_t size) : out_(out), size_(size) {
    if (size_ > 0) out_[0] = '\0';
  }

  bounded_text& put(const char* text) { return append(text, std::strlen(text)); }
  bounded_text& put(char letter) { return append(&letter, 1); }
  bounded_text& put_number(long value) {
    char digits[24];
    char* at = digits + sizeof digits;
    unsigned long magnitude =
        value < 0 ? 0UL - static_cast<unsigned long>(value) : static_cast<unsigned long>(value);
    do {
      *--at = static_cast<char>('0' + magnitude % 10);
      magnitude /= 10;
    } while (magnitude != 0);
    if (value < 0) *--at = '-';
    return append(at, static_cast<std::size_t>(digits + sizeof digits - at));
  }
  bounded_text& operator<<(const char* text) { return put(text); }

  // The length of everything put so far, whether it fitted or not.
  std::size_t length() const { return length_; }
  // Whether everything put so far fitted, with its terminating NUL.
  bool fitted() const { return length_ < size_; }

 private:
  bounded_text& append(const char* text, std::size_t length) {
    if (length_ + 1 < size_) {
      std::size_t kept = std::min(length, size_ - 1 - length_);
      std::memcpy(out_ + length_, text, kept);
      out_[length_ + kept] = '\0';
    }
    length_ += length;
    return *this;
  }

  char* out_;
  std::size_t size_;
  std::size_t length_ = 0;
};

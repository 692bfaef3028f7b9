// Small text helpers shared by every subsystem.
#pragma once

#include <cstddef>

// Copies at most `limit` characters of `source` into `dest` and always
// terminates the copy, so `dest` must hold limit + 1 bytes. A null source
// gives an empty text. Returns true when the whole source fitted.
bool copy_bounded(char* dest, const char* source, std::size_t limit);

// Fills a fixed char array with at most N - 1 characters of `source`.
template <std::size_t N>
bool copy_bounded(char (&dest)[N], const char* source) {
  return copy_bounded(dest, source, N - 1);
}

// Lower-cases the letters A to Z in place; every other byte stays as it is.
// Locale-independent, so a UTF-8 or Latin-1 byte is never changed.
void lower_ascii(char* text);

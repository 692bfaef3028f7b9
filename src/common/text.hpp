// Small text helpers shared by every subsystem.
#pragma once

#include <cstddef>
#include <string_view>

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

// One byte as lower_ascii leaves it.
constexpr unsigned char lower_ascii_byte(unsigned char byte) {
  return byte >= 'A' && byte <= 'Z' ? static_cast<unsigned char>(byte - 'A' + 'a') : byte;
}
constexpr unsigned char lower_ascii_byte(char letter) {
  return lower_ascii_byte(static_cast<unsigned char>(letter));
}

// Whether two texts are equal when the letters A to Z are taken as a to z;
// like lower_ascii, no other byte is folded, whatever the locale.
bool same_text_ignoring_ascii_case(const char* left, const char* right);

// The C locale's classes, fixed so that no locale can widen them.
constexpr bool is_ascii_digit(char c) { return c >= '0' && c <= '9'; }
constexpr bool is_ascii_space(char c) {
  return c == ' ' || c == '\t' || c == '\n' || c == '\v' || c == '\f' || c == '\r';
}

// Whether `text` holds `part` anywhere.
inline bool contains(std::string_view text, std::string_view part) {
  return text.find(part) != std::string_view::npos;
}

// Replaces an owned (malloc'd) text with a fresh copy of `value` and frees
// the old one. False, with the old text kept, when the copy cannot be made.
bool replace_text(char*& field, const char* value);

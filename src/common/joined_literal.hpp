// Joins string literals at compile time, so that a text built from a fixed
// name (the socket path in Sendmail's filter definition, say) names it once.
//
//   constexpr auto line = join_literals("S=unix:", paths::filter_socket);
//   line.c_str()  -> "S=unix:/var/run/teslo.sock"
//
// Each part is a char array with its terminating NUL; the result holds the
// parts in order and one NUL. A non-const result is a writable copy, for the
// C interfaces that take char*.
#pragma once

#include <cstddef>
#include <string_view>

template <std::size_t Size>
struct joined_literal {
  char text[Size]{};

  constexpr const char* c_str() const noexcept { return text; }
  constexpr std::string_view view() const noexcept { return {text, Size - 1}; }
};

template <std::size_t... Sizes>
constexpr auto join_literals(const char (&... parts)[Sizes]) noexcept {
  joined_literal<(Sizes + ...) - sizeof...(Sizes) + 1> joined;
  std::size_t at = 0;
  auto append = [&](const char* part, std::size_t size) {
    for (std::size_t i = 0; i + 1 < size; ++i) joined.text[at++] = part[i];
  };
  (append(parts, Sizes), ...);
  return joined;
}

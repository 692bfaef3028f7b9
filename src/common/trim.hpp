// Trimming of white space at the ends of a text, in place.
//
// Shared by the copy-rule walker, the copying at end of message and the
// Sendmail configuration editors. Pure functions on the caller's text; safe
// on any thread. No log lines.
#pragma once

#include <string>

// The set every caller strips: space, form feed, line feed, carriage return,
// horizontal tab and vertical tab.
inline constexpr const char* trim_chars = " \f\n\r\t\v";

// Removes every trailing character of `text` that is in `set`.
void trim_right(std::string& text, const char* set);
// Removes every leading character of `text` that is in `set`.
void trim_left(std::string& text, const char* set);
// trim_right, then trim_left. A text made only of set characters becomes "".
void trim(std::string& text, const char* set);

// The same for a terminated C text held in a writable buffer.
void trim_right(char* text, const char* set);
void trim_left(char* text, const char* set);
void trim(char* text, const char* set);

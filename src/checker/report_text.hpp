// Text helpers of the configuration checker's report.
//
// Used by the spam-check and copy-rule reports; pure functions.
#pragma once

#include <cstddef>
#include <string>

// `text` in double quotes, control bytes and quotes escaped, cut to `limit`
// characters with "..." when longer, so one report line stays one line.
std::string quoted(const std::string& text, std::size_t limit = 80);

// "1 rule" / "2 rules".
std::string counted(std::size_t count, const char* singular, const char* plural);

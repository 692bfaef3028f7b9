// Reads an RFC 5322 message file into the headers and body that Sendmail
// would hand a filter: one header per field with its folded lines kept
// (joined by a line feed, their leading blanks as written), the text after
// the first empty line as the body with CRLF line ends.
#pragma once

#include <istream>
#include <string>
#include <utility>
#include <vector>

struct message_text {
  std::vector<std::pair<std::string, std::string>> headers;
  std::string body;
};

// False when a line before the first empty one is neither a field
// ("Name: value") nor the continuation of one; `error` says which.
bool read_message(std::istream& in, message_text& message, std::string& error);

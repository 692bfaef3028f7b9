#include "try/message_file.hpp"

namespace {

void drop_cr(std::string& line) {
  if (!line.empty() && line.back() == '\r') line.pop_back();
}

bool valid_name(const std::string& name) {
  if (name.empty()) return false;
  for (unsigned char c : name) {
    if (c <= ' ' || c >= 127 || c == ':') return false;
  }
  return true;
}

}  // namespace

bool read_message(std::istream& in, message_text& message, std::string& error) {
  std::string line;
  int number = 0;
  while (std::getline(in, line)) {
    ++number;
    drop_cr(line);
    if (line.empty()) break;
    if (line[0] == ' ' || line[0] == '\t') {
      if (message.headers.empty()) {
        error = "line 1 continues no header";
        return false;
      }
      message.headers.back().second += "\n" + line;
      continue;
    }
    std::size_t colon = line.find(':');
    std::string name = colon == std::string::npos ? "" : line.substr(0, colon);
    if (!valid_name(name)) {
      error = "line " + std::to_string(number) + " is not a header (\"Name: value\")";
      return false;
    }
    std::string value = line.substr(colon + 1);
    // Sendmail passes the value without the blank after the colon.
    if (!value.empty() && value[0] == ' ') value.erase(0, 1);
    message.headers.emplace_back(std::move(name), std::move(value));
  }
  while (std::getline(in, line)) {
    drop_cr(line);
    message.body += line;
    message.body += "\r\n";
  }
  return true;
}

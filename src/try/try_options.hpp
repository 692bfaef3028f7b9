// The command line of teslo-try:
//
//   teslo-try [-s SOCKET] --client ADDR [--client-name NAME] --helo NAME
//             --from ADDR --rcpt ADDR... [--macro STAGE:NAME=VALUE...]
//             MESSAGE-FILE
//
// STAGE is one of connect, helo, mail, rcpt, data, eoh, eom. Addresses may
// be given with or without angle brackets; they are sent with them.
#pragma once

#include <string>
#include <vector>

struct try_macro {
  char command;  // milter_wire::cmd_* of the stage
  std::string name;
  std::string value;
};

struct try_options {
  std::string socket_path;
  std::string client_addr;
  std::string client_name;  // default: "[ADDR]", as Sendmail names an unresolved client
  std::string helo;
  std::string sender;
  std::vector<std::string> recipients;
  std::vector<try_macro> macros;
  std::string message_file;  // "-": standard input
  bool help = false;
  bool version = false;
};

extern const char* const try_usage;

// False with a reason in `error` on an unknown option, a missing value or a
// required option left out.
bool parse_try_options(const std::vector<std::string>& arguments, try_options& options,
                       std::string& error);

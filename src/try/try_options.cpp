#include "try/try_options.hpp"

#include <utility>

#include "common/joined_literal.hpp"
#include "common/paths.hpp"
#include "milterclient/milter_wire.hpp"

namespace {

constexpr auto usage_text = join_literals(
    "usage: teslo-try [-s SOCKET] --client ADDR [--client-name NAME] --helo NAME\n"
    "                 --from ADDR --rcpt ADDR... [--macro STAGE:NAME=VALUE...] MESSAGE-FILE\n"
    "       teslo-try -h | --help | --version\n"
    "Plays one message (an RFC 5322 file, - for standard input) through the running\n"
    "filter's socket (default ",
    paths::filter_socket,
    ") as Sendmail would, and prints each\n"
    "stage's reply, what the filter changed and the reply Sendmail would give. Sends\n"
    "no mail. STAGE: connect, helo, mail, rcpt, data, eoh, eom.\n"
    "Exit status: 0 accepted, 1 refused or quarantined, 2 usage or connection error.\n");

}  // namespace

const char* const try_usage = usage_text.c_str();

namespace {

namespace w = milter_wire;

std::string bracketed(const std::string& address) {
  if (address.size() >= 2 && address.front() == '<' && address.back() == '>') return address;
  return "<" + address + ">";
}

bool stage_command(const std::string& stage, char& command) {
  static const std::pair<const char*, char> stages[] = {
      {"connect", w::cmd_connect}, {"helo", w::cmd_helo}, {"mail", w::cmd_mail},
      {"rcpt", w::cmd_rcpt},       {"data", w::cmd_data}, {"eoh", w::cmd_end_of_headers},
      {"eom", w::cmd_end_of_body}};
  for (const auto& [name, letter] : stages) {
    if (stage == name) {
      command = letter;
      return true;
    }
  }
  return false;
}

bool parse_macro(const std::string& text, try_macro& macro) {
  std::size_t colon = text.find(':');
  std::size_t equals = text.find('=', colon == std::string::npos ? 0 : colon);
  if (colon == std::string::npos || equals == std::string::npos || equals == colon + 1)
    return false;
  if (!stage_command(text.substr(0, colon), macro.command)) return false;
  macro.name = text.substr(colon + 1, equals - colon - 1);
  macro.value = text.substr(equals + 1);
  return true;
}

}  // namespace

bool parse_try_options(const std::vector<std::string>& arguments, try_options& options,
                       std::string& error) {
  options.socket_path = paths::filter_socket;
  for (std::size_t i = 0; i < arguments.size(); ++i) {
    const std::string& option = arguments[i];
    if (option == "-h" || option == "--help") {
      options.help = true;
      return true;
    }
    if (option == "--version") {
      options.version = true;
      return true;
    }
    if (option.size() > 1 && option[0] == '-') {
      if (i + 1 == arguments.size()) {
        error = option + " needs a value";
        return false;
      }
      const std::string& value = arguments[++i];
      if (option == "-s")
        options.socket_path = value;
      else if (option == "--client")
        options.client_addr = value;
      else if (option == "--client-name")
        options.client_name = value;
      else if (option == "--helo")
        options.helo = value;
      else if (option == "--from")
        options.sender = bracketed(value);
      else if (option == "--rcpt")
        options.recipients.push_back(bracketed(value));
      else if (option == "--macro") {
        try_macro macro;
        if (!parse_macro(value, macro)) {
          error = "--macro wants STAGE:NAME=VALUE with a known stage, not \"" + value + "\"";
          return false;
        }
        options.macros.push_back(std::move(macro));
      } else {
        error = "unknown option " + option;
        return false;
      }
      continue;
    }
    if (!options.message_file.empty()) {
      error = "one message file only";
      return false;
    }
    options.message_file = option;
  }
  const std::pair<const char*, bool> required[] = {
      {"--client", options.client_addr.empty()},
      {"--helo", options.helo.empty()},
      {"--from", options.sender.empty()},
      {"--rcpt", options.recipients.empty()},
      {"a message file", options.message_file.empty()}};
  for (const auto& [what, missing] : required) {
    if (missing) {
      error = std::string(what) + " is required";
      return false;
    }
  }
  if (options.client_name.empty()) options.client_name = "[" + options.client_addr + "]";
  return true;
}

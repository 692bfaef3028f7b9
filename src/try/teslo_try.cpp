#include "try/teslo_try.hpp"

#include <fstream>

#include "common/paths.hpp"
#include "milterclient/mta_session.hpp"
#include "try/message_file.hpp"
#include "try/try_options.hpp"
#include "try/try_report.hpp"

namespace {

constexpr int status_accepted = 0;
constexpr int status_refused = 1;
constexpr int status_error = 2;

// Sendmail's milter timeouts for this filter are 240 s per reply.
constexpr int reply_timeout_ms = 240 * 1000;

bool read_message_file(const std::string& path, std::istream& standard_input, message_text& message,
                       std::string& error) {
  if (path == "-") return read_message(standard_input, message, error);
  std::ifstream file(path, std::ios::binary);
  if (!file) {
    error = "cannot read " + path;
    return false;
  }
  return read_message(file, message, error);
}

test_message message_of(const try_options& options, message_text text) {
  test_message message;
  message.client_name = options.client_name;
  message.client_addr = options.client_addr;
  message.client_port = 25;
  message.receiver_host = "localhost";
  message.helo = options.helo;
  message.sender = options.sender;
  message.recipients = options.recipients;
  message.headers = std::move(text.headers);
  message.body = std::move(text.body);
  return message;
}

}  // namespace

int run_teslo_try(const std::vector<std::string>& arguments, std::istream& in, std::ostream& out,
                  std::ostream& err) {
  try_options options;
  std::string error;
  if (!parse_try_options(arguments, options, error)) {
    err << "teslo-try: " << error << "\n" << try_usage;
    return status_error;
  }
  if (options.help) {
    out << try_usage;
    return 0;
  }
  if (options.version) {
    out << "teslo-try " << names::version << "\n";
    return 0;
  }
  message_text text;
  if (!read_message_file(options.message_file, in, text, error)) {
    err << "teslo-try: " << options.message_file << ": " << error << "\n";
    return status_error;
  }
  const test_message message = message_of(options, std::move(text));

  try_transcript transcript{message.recipients, message.headers, {}};
  mta_session session(options.socket_path, reply_timeout_ms);
  session.log_replies(&transcript.replies);
  for (const try_macro& macro : options.macros)
    session.set_macro(macro.command, macro.name, macro.value);
  message_outcome outcome;
  if (!session.open(message, error, outcome)) {
    err << "teslo-try: " << error << "\n";
    return status_error;
  }
  if (outcome.result == verdict::continued) {
    outcome = session.send_message(message, 1, false);
    if (outcome.result == verdict::failed) {
      err << "teslo-try: " << outcome.error << "\n";
      return status_error;
    }
    session.quit();
  }
  switch (write_try_report(transcript, out)) {
    case try_verdict::accepted: return status_accepted;
    case try_verdict::refused:
    case try_verdict::quarantined: return status_refused;
  }
  return status_error;
}

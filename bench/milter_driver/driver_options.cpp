// Parses the load driver's command line (see driver_options.hpp).
#include "driver_options.hpp"

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <sstream>

namespace {

bool to_long(const char* text, long low, long high, long& out) {
  char* end = nullptr;
  errno = 0;
  long value = std::strtol(text, &end, 10);
  if (errno != 0 || end == text || *end != '\0' || value < low || value > high) return false;
  out = value;
  return true;
}

bool to_double(const char* text, double& out) {
  char* end = nullptr;
  double value = std::strtod(text, &end);
  if (end == text || *end != '\0' || !(value > 0)) return false;
  out = value;
  return true;
}

}  // namespace

const char* driver_usage() {
  return "usage: load_driver [options]\n"
         "Plays Sendmail's side of the mail-filter protocol against a filter's UNIX socket:\n"
         "N connections at once, each sending M messages one after another.\n"
         "  --socket PATH        filter socket (default /var/run/teslo.sock)\n"
         "  --connections N      concurrent connections (default 8, at most 1024)\n"
         "  --messages M         messages per connection (default 1000)\n"
         "  --time-limit S       start no message after S seconds (default 60)\n"
         "  --reply-timeout MS   give up on a reply after MS ms of silence (default 10000)\n"
         "  --client-delay MS    wait MS ms after the reply to MAIL FROM, as a client that\n"
         "                       takes that long to send its recipients and data\n"
         "  --pid PID | --pid-file PATH   the filter process, for CPU time and peak RSS\n"
         "  --reset-peak         reset the filter's peak RSS before the run (needs root)\n"
         "  --abort-every K      abandon every K-th message after RCPT with the abort command\n"
         "  --drop-every K       close the connection in the middle of every K-th message\n"
         "                       (after MAIL, after RCPT, in the headers or in the body, in turn)\n"
         "  --reconnect          one message per connection (QUIT after each)\n"
         "  --stall N            hold N more connections open, idle after HELO, during the run\n"
         "  --idle S             with --stall: first hold them S seconds with nothing else to do\n"
         "                       (the filter's CPU meanwhile: idle_cpu_s on the RESULT line)\n"
         "  --client-ip A --client-name H --helo H --sender '<a@b>' --rcpt '<c@d>' (repeatable)\n"
         "  --body-bytes N       body size (default 2048)    --chunk N  body chunk size\n"
         "  --body-file F        the body from F, its lines ended with CRLF as sent\n"
         "  --content-type T     the message's Content-Type (default text/plain)\n"
         "  --label TEXT         name of the run on the RESULT line\n"
         "Exit status: 0 every message answered without error, 1 otherwise, 2 bad usage.\n";
}

bool parse_driver_options(int argc, char** argv, driver_options& options, std::string& error,
                          bool& help) {
  help = false;
  bool recipients_given = false;
  for (int i = 1; i < argc; ++i) {
    const char* name = argv[i];
    if (std::strcmp(name, "--help") == 0 || std::strcmp(name, "-h") == 0) {
      help = true;
      return true;
    }
    if (std::strcmp(name, "--reset-peak") == 0) {
      options.reset_peak = true;
      continue;
    }
    if (std::strcmp(name, "--reconnect") == 0) {
      options.reconnect = true;
      continue;
    }
    if (i + 1 >= argc) {
      error = std::string("missing value after ") + name;
      return false;
    }
    const char* value = argv[++i];
    long number = 0;
    bool ok = true;
    if (std::strcmp(name, "--socket") == 0) {
      options.socket_path = value;
    } else if (std::strcmp(name, "--connections") == 0) {
      ok = to_long(value, 1, 1024, number);
      options.connections = static_cast<int>(number);
    } else if (std::strcmp(name, "--messages") == 0) {
      ok = to_long(value, 1, 1000000000L, options.messages_per_connection);
    } else if (std::strcmp(name, "--time-limit") == 0) {
      ok = to_double(value, options.time_limit_seconds);
    } else if (std::strcmp(name, "--client-delay") == 0) {
      ok = to_long(value, 0, 3600000, number);
      options.client_delay_ms = static_cast<int>(number);
    } else if (std::strcmp(name, "--reply-timeout") == 0) {
      ok = to_long(value, 1, 3600000, number);
      options.reply_timeout_ms = static_cast<int>(number);
    } else if (std::strcmp(name, "--pid") == 0) {
      ok = to_long(value, 1, 0x7fffffff, number);
      options.filter_pid = static_cast<int>(number);
    } else if (std::strcmp(name, "--pid-file") == 0) {
      options.pid_file = value;
    } else if (std::strcmp(name, "--abort-every") == 0) {
      ok = to_long(value, 0, 1000000000L, options.abort_every);
    } else if (std::strcmp(name, "--drop-every") == 0) {
      ok = to_long(value, 0, 1000000000L, options.drop_every);
    } else if (std::strcmp(name, "--stall") == 0) {
      ok = to_long(value, 0, 1000000L, options.stall);
    } else if (std::strcmp(name, "--idle") == 0) {
      ok = to_double(value, options.idle_seconds);
    } else if (std::strcmp(name, "--client-ip") == 0) {
      options.message.client_addr = value;
    } else if (std::strcmp(name, "--client-name") == 0) {
      options.message.client_name = value;
    } else if (std::strcmp(name, "--helo") == 0) {
      options.message.helo = value;
    } else if (std::strcmp(name, "--sender") == 0) {
      options.message.sender = value;
    } else if (std::strcmp(name, "--rcpt") == 0) {
      if (!recipients_given) options.message.recipients.clear();
      recipients_given = true;
      options.message.recipients.emplace_back(value);
    } else if (std::strcmp(name, "--body-bytes") == 0) {
      ok = to_long(value, 0, 100000000L, number);
      options.message.body_bytes = static_cast<std::size_t>(number);
    } else if (std::strcmp(name, "--chunk") == 0) {
      ok = to_long(value, 1, 65535, number);
      options.message.chunk_size = static_cast<std::size_t>(number);
    } else if (std::strcmp(name, "--body-file") == 0) {
      std::ifstream file(value, std::ios::binary);
      std::ostringstream text;
      text << file.rdbuf();
      ok = file.good() && !text.str().empty();
      options.message.body_text = text.str();
    } else if (std::strcmp(name, "--content-type") == 0) {
      options.message.content_type = value;
    } else if (std::strcmp(name, "--label") == 0) {
      options.label = value;
    } else {
      error = std::string("unknown option ") + name;
      return false;
    }
    if (!ok) {
      error = std::string("bad value for ") + name + ": " + value;
      return false;
    }
  }
  return true;
}

// Command line of the load driver (see `load_driver --help`).
//
// Parsed once by main() before any connection thread starts.
#pragma once

#include <string>
#include <vector>

#include "milterclient/test_message.hpp"

struct driver_options {
  std::string socket_path = "/var/run/teslo.sock";
  int connections = 8;
  long messages_per_connection = 1000;
  double time_limit_seconds = 60;
  int reply_timeout_ms = 10000;
  int filter_pid = 0;
  std::string pid_file;
  bool reset_peak = false;
  long abort_every = 0;    // 0: never abandon a message on purpose
  long drop_every = 0;     // 0: never close a connection mid-message on purpose
  bool reconnect = false;  // a new connection for every message
  long stall = 0;          // connections held open, idle after HELO, during the run
  double idle_seconds = 0;
  int client_delay_ms =
      0;  // the client's time from MAIL FROM to its recipients and data  // with --stall: wait this long before the run, measuring the filter's CPU
  std::string label = "run";
  message_settings message;
};

// Fills `options` from argv. Returns false with `error` set on a bad
// command line; sets `help` when --help was asked for.
bool parse_driver_options(int argc, char** argv, driver_options& options, std::string& error,
                          bool& help);
// The --help text.
const char* driver_usage();

// Installs the filter into Sendmail's configuration at start-up and removes
// it at shutdown: sendmail.cf first, then the macro file; removal ends with a
// reload of a running Sendmail.
//
// Installation does not make Sendmail re-read anything; the restart thread
// (daemon/sendmail_restart.hpp) does that a few seconds later. Neither
// operation reports failure to the caller: each step logs its own errors (see
// sendmail_cf.hpp and macro_file.hpp) and the next step runs regardless.
//
// Main thread only: installation before the filter socket is opened and any
// other thread exists, removal after the main loop has ended and the restart
// thread has been joined.
#pragma once

#include "mtaconfig/command_runner.hpp"

// The files the operations edit and their temporary names.
struct mta_config_files {
  const char* sendmail_cf;
  const char* sendmail_cf_temp;
  const char* macro_file;
  const char* macro_file_temp;
};

// The fixed paths of the daemon (paths.hpp).
mta_config_files default_mta_config_files();

void install_milter_config(const mta_config_files& files, command_runner& runner);
// Also runs "pidof sendmail >/dev/null" and, only when that returns 0,
// "service sendmail reload >/dev/null"; their results are not reported.
void remove_milter_config(const mta_config_files& files, command_runner& runner);

// The same on the fixed paths, running the commands for real
// (system_command_runner).
void install_milter_config();
void remove_milter_config();

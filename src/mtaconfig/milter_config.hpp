// Installs the filter into Sendmail's configuration at start-up and removes
// it at shutdown: sendmail.cf first, then the macro file; removal ends with a
// reload of a running Sendmail (sendmail_control.hpp).
//
// Installation does not make Sendmail re-read anything; the restart process
// (monitor/sendmail_restart.hpp) does that a few seconds later. Neither
// operation reports failure to the caller: each step logs its own errors (see
// sendmail_cf.hpp, macro_file.hpp and sendmail_control.hpp) and the next step
// runs regardless.
//
// Main thread only: installation before the filter socket is opened and any
// other thread exists, removal after the filter process has ended and the
// restart process has been waited for.
#pragma once

#include "mtaconfig/command_runner.hpp"
#include "mtaconfig/sendmail_daemon.hpp"

// The files the operations edit.
struct mta_config_files {
  const char* sendmail_cf;
  const char* macro_file;
};

// The fixed paths of the daemon (paths.hpp).
mta_config_files default_mta_config_files();

void install_milter_config(const mta_config_files& files);
void remove_milter_config(const mta_config_files& files, const sendmail_host& host,
                          command_runner& runner);

// The same on the fixed paths, running the commands for real
// (system_command_runner).
void install_milter_config();
void remove_milter_config();

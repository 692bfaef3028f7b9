// Adds the filter "TESLO" to Sendmail's compiled configuration and takes it
// out again.
//
// install_cf_entry lists the filter in the "O InputMailFilters" option (a new
// one after "# Input mail filters" with the milter macro options, or appended
// to another filter's list), makes the envelope macro options carry
// {mail_addr} and {rcpt_addr}, and writes the filter definition after the
// first "MAIL FILTER DEFINITIONS" line. A file that already lists the filter
// is left alone. remove_cf_entry takes the filter out of the list, drops a
// list left empty with its "# Milter options" line, the macro options no
// retained list needs, and the definition line.
//
// Both read the file line by line, drop trailing blanks and CRs, write the
// new version to temp_path (see file_rewrite) and move it over cf_path with
// the move command of commands::, run by `runner`. A copy that is not
// complete is never moved. Main thread only, at start-up and shutdown.
//
// Log lines (LOG_ERR): "can not milter configuraiton" (install, a file
// cannot be opened), "sendmail.cf configuration error" (remove, a file cannot
// be opened), "Sendmail.cf replace error" (incomplete copy or failed move).
#pragma once

#include "mtaconfig/command_runner.hpp"

void install_cf_entry(const char* cf_path, const char* temp_path, command_runner& runner);
void remove_cf_entry(const char* cf_path, const char* temp_path, command_runner& runner);

// The filter definition line that install_cf_entry writes.
inline constexpr const char* filter_definition_line =
    "XTESLO, S=unix:/var/run/teslo.sock, F=, T=S:240s;R:240s;E:5m";

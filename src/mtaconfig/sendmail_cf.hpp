// Adds the filter "TESLO" to Sendmail's compiled configuration and takes it
// out again.
//
// install_cf_entry lists the filter in the "O InputMailFilters" option (a new
// one after "# Input mail filters" with the milter macro options, or appended
// to another filter's list), makes the macro options carry what the checks
// read ({verify} at HELO, {mail_addr} and {msg_size} at MAIL FROM,
// {rcpt_addr} at RCPT TO), and writes the filter definition after the
// first "MAIL FILTER DEFINITIONS" line. A file that already lists the filter
// is left alone. remove_cf_entry takes the filter out of the list, drops a
// list left empty with its "# Milter options" line, the macro options no
// retained list needs, and the definition line.
//
// Both read the file line by line, drop trailing blanks and CRs and put the
// new version in place atomically (see file_rewrite); a copy that is not
// complete never replaces the file. Main thread only, at start-up and
// shutdown.
//
// Log lines (LOG_ERR): "can not milter configuraiton" (install, a file
// cannot be opened), "sendmail.cf configuration error" (remove, a file cannot
// be opened), "Sendmail.cf replace error" (incomplete copy or failed rename).
#pragma once

#include "mtaconfig/filter_entry.hpp"

void install_cf_entry(const char* cf_path);
void remove_cf_entry(const char* cf_path);

// Keeps Sendmail's macro source in step with the compiled configuration: an
// INPUT_MAIL_FILTER line for "TESLO" goes in above every "MAILER(local)" line
// while the daemon runs, and comes out again at shutdown, so that a
// sendmail.cf regenerated from the macro file meanwhile keeps the filter.
//
// The inserted line quotes the whole equate list, so m4 passes the flags and
// timeouts through: regenerated, it gives exactly filter_definition_line
// (both in filter_entry.hpp).
//
// Both read the file line by line, drop trailing blanks and CRs and put the
// new version in place atomically (see file_rewrite); a copy that is not
// complete never replaces the file. Called by install_milter_config /
// remove_milter_config on the main thread.
//
// Log lines (LOG_ERR): "<mc_path> remake error!" (the macro file cannot be
// opened), "<temporary> write error" (the temporary cannot be created),
// "brin.mc replace error" (incomplete copy or failed rename).
#pragma once

#include "mtaconfig/filter_entry.hpp"

void install_mc_entry(const char* mc_path);
void remove_mc_entry(const char* mc_path);

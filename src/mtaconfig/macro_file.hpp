// Keeps Sendmail's macro source in step with the compiled configuration: an
// INPUT_MAIL_FILTER line for "TESLO" goes in above every "MAILER(local)" line
// while the daemon runs, and comes out again at shutdown, so that a
// sendmail.cf regenerated from the macro file meanwhile keeps the filter.
//
// The inserted line quotes the whole equate list, so m4 passes the flags and
// timeouts through: regenerated, it gives exactly filter_definition_line.
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

void install_mc_entry(const char* mc_path);
void remove_mc_entry(const char* mc_path);

// The line install_mc_entry puts above "MAILER(local)" (it ends in a blank).
inline constexpr const char* filter_macro_line =
    "INPUT_MAIL_FILTER(`TESLO', `S=unix:/var/run/teslo.sock, F=, T=S:240s;R:240s;E:5m')dnl ";

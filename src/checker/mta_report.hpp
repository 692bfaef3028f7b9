// The Sendmail part of teslo-check: a host without sendmail.cf.
//
// The daemon edits Sendmail's sendmail.cf and brin.mc at every start and
// stop. Where they are absent (a host that runs Postfix) it logs the err
// lines "can not milter configuraiton" (start), "sendmail.cf configuration
// error" (stop) and, without brin.mc, "<brin.mc> remake error!" (both), and
// carries on. The report says so, so an administrator who sees those lines
// knows that they are harmless there. Nothing in it changes the exit status.
#pragma once

#include <ostream>
#include <string>

// Writes the note when `sendmail_cf` does not exist; nothing otherwise.
void report_missing_sendmail(const std::string& sendmail_cf, const std::string& macro_file,
                             std::ostream& out);

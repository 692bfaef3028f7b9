// teslo-try: one message through the running filter's socket, as Sendmail
// would play it, reported in plain words (see try_options.hpp for the
// command line and try_report.hpp for the report). Sends no mail.
// Returns the exit status: 0 accepted, 1 refused or quarantined, 2 usage or
// connection error.
#pragma once

#include <istream>
#include <ostream>
#include <string>
#include <vector>

int run_teslo_try(const std::vector<std::string>& arguments, std::istream& in, std::ostream& out,
                  std::ostream& err);

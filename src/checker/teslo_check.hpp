// The command line of teslo-check, the configuration checker.
//
//   teslo-check [--reload] [-c spam-check-file] [-r copy-rule-file]
//
// Checks both files (the fixed paths of the daemon unless named), or only
// the one named when just one is, with the daemon's own loaders and reports
// on `out`; usage errors go to `err`. --reload also fails a copy-rule file
// that loads no rule (the unit's ExecReload runs it before signalling).
// Returns the exit status: 0 clean, 1 something would be ignored or can
// never fire, 2 a file cannot be read or parsed, or a usage error.
// Touches no shared state but the output streams.
#pragma once

#include <ostream>
#include <string>
#include <vector>

int run_teslo_check(const std::vector<std::string>& arguments, std::ostream& out,
                    std::ostream& err);

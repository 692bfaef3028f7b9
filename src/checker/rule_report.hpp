// The copy-rule file part of teslo-check.
//
// Reads the file with the daemon's own reader (walk_copy_rule_file: the
// same validation, entity substitution and walk as a load or a SIGUSR1
// reload) and writes every rule as loaded, with the line that completed it,
// then, as "path:line: why", every rule that can never fire, every text the
// walk set aside and every field left without a rule. A file that cannot be
// opened is reported as "cannot read" with the reason. A DTD named by an
// absolute path that does not exist is read from beside the rule file, with a
// note (dtd_fallback), so an example not yet installed can be checked. Main
// thread only (the fallback sets libxml2's process-wide entity loader).
#pragma once

#include <optional>
#include <ostream>
#include <string>

#include "checker/check_status.hpp"
#include "copyrules/copy_rule_table.hpp"

// What the rule does, in words ("a copy once when the sender matches").
std::string describe_rule(const copy_rule& rule);

// Why `rule` can never fire, if it cannot: a direction other than S, R, SR
// or SA, or a copy address over 512 characters.
std::optional<std::string> rule_never_fires(const copy_rule& rule);

// Checks the copy-rule file at `path`: clean, ignored (a rule that can never
// fire, text set aside, an incomplete rule) or unreadable (the file cannot
// be read, is not well-formed, declares no DTD or breaks it). With
// `for_reload`, a file that loads no rule at all is not clean either: a
// reload would drop every copy rule in force.
check_status check_copy_rule_file(const std::string& path, std::ostream& out,
                                  bool for_reload = false);

// The spam-check file part of teslo-check.
//
// Reads the file with the daemon's own loader (load_spam_config) and writes,
// one line each and in file order, every line or part of a line that the
// daemon would ignore or read otherwise than written, as "path:line: why",
// then the settings that would be in force. Touches no shared state.
#pragma once

#include <ostream>
#include <string>

#include "checker/check_status.hpp"
#include "spamconfig/config_loader.hpp"

// One report of the loader as the checker words it (without "path:line: ").
std::string describe_config_issue(const config_line_report& report);

// Checks the spam-check file at `path`; clean, ignored (at least one line
// reported) or unreadable (the file cannot be opened or is a directory).
check_status check_spam_config_file(const std::string& path, std::ostream& out);

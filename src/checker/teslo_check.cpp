#include "checker/teslo_check.hpp"

#include "checker/check_status.hpp"
#include "checker/config_report.hpp"
#include "checker/mta_report.hpp"
#include "checker/rule_report.hpp"
#include "common/paths.hpp"

namespace {

const char* const usage_text =
    "usage: teslo-check [--reload] [-c spam-check-file] [-r copy-rule-file]\n"
    "       teslo-check -h | --help | --version\n"
    "Checks the files teslo reads (default /etc/mail/orvane/orvane.conf and\n"
    "/etc/mail/teslo/teslo.xml) and names every line teslo would ignore.\n"
    "With -c alone only the spam-check file is checked, with -r alone only the\n"
    "copy-rule file. --reload checks the copy-rule file as \"systemctl reload\n"
    "teslo\" needs it: a file that would load no rule fails as well.\n"
    "Without --reload it also says when /etc/mail/sendmail.cf is absent (a host\n"
    "with Postfix) and which harmless err lines teslo then logs.\n"
    "Exit status: 0 clean, 1 something would be ignored, 2 a file cannot be read.\n";

struct options {
  std::string spam_config_file = paths::spam_config_file;
  std::string copy_rule_file = paths::copy_rule_file;
  bool spam_config_named = false;
  bool copy_rules_named = false;
  bool reload = false;
  bool help = false;
  bool version = false;
};

// False (with a message on `err`) on anything but -c FILE, -r FILE,
// --reload, -h and --version.
bool parse_options(const std::vector<std::string>& arguments, options& result, std::ostream& err) {
  for (std::size_t i = 0; i < arguments.size(); ++i) {
    const std::string& argument = arguments[i];
    if (argument == "-h" || argument == "--help") {
      result.help = true;
      continue;
    }
    if (argument == "--version") {
      result.version = true;
      continue;
    }
    if (argument == "--reload") {
      result.reload = true;
      continue;
    }
    std::string* target = argument == "-c"   ? &result.spam_config_file
                          : argument == "-r" ? &result.copy_rule_file
                                             : nullptr;
    if (target == nullptr) {
      err << "teslo-check: unknown argument \"" << argument << "\"\n";
      return false;
    }
    if (i + 1 == arguments.size() || arguments[i + 1].empty()) {
      err << "teslo-check: " << argument << " needs a file name\n";
      return false;
    }
    *target = arguments[++i];
    (target == &result.spam_config_file ? result.spam_config_named : result.copy_rules_named) =
        true;
  }
  return true;
}

}  // namespace

int run_teslo_check(const std::vector<std::string>& arguments, std::ostream& out,
                    std::ostream& err) {
  options chosen;
  if (!parse_options(arguments, chosen, err)) {
    err << usage_text;
    return static_cast<int>(check_status::unreadable);
  }
  if (chosen.help) {
    out << usage_text;
    return 0;
  }
  if (chosen.version) {
    out << "teslo-check " << names::version << "\n";
    return 0;
  }
  // Naming one file alone checks just that one; naming none checks both.
  bool both = chosen.spam_config_named == chosen.copy_rules_named;
  check_status status = check_status::clean;
  if (both || chosen.spam_config_named)
    status = check_spam_config_file(chosen.spam_config_file, out);
  if (both || chosen.copy_rules_named) {
    status = worse(status, check_copy_rule_file(chosen.copy_rule_file, out, chosen.reload));
  }
  // The reload check of the unit speaks of the rule file only.
  if (!chosen.reload) report_missing_sendmail(paths::sendmail_cf, paths::macro_file, out);
  switch (status) {
    case check_status::clean: out << "teslo-check: OK, teslo takes every line as written\n"; break;
    case check_status::ignored:
      out << "teslo-check: teslo would ignore or misread what is listed above\n";
      break;
    case check_status::unreadable: out << "teslo-check: a file cannot be read or parsed\n"; break;
  }
  return static_cast<int>(status);
}

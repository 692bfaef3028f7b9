// Fuzzes the sendmail.cf editor (install, then removal) with arbitrary
// configuration files; see editor_fuzz.hpp for what is checked.
#include "editor_fuzz.hpp"
#include "mtaconfig/sendmail_cf.hpp"

namespace {

bool lists_filter(const std::string& line) {
  return line.starts_with("O InputMailFilters") && line.find("TESLO") != std::string::npos;
}

}  // namespace

EDITOR_FUZZ_TARGET(install_cf_entry, remove_cf_entry, lists_filter)

// Fuzzes the macro-file editor (install, then removal) with arbitrary macro
// files; see editor_fuzz.hpp for what is checked.
#include "editor_fuzz.hpp"
#include "mtaconfig/macro_file.hpp"

namespace {

bool names_filter(const std::string& line) {
  return line.find("INPUT_MAIL_FILTER(`TESLO'") != std::string::npos;
}

}  // namespace

EDITOR_FUZZ_TARGET(install_mc_entry, remove_mc_entry, names_filter)

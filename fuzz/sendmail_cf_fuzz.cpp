// Fuzzes the sendmail.cf editor (install, then removal) with arbitrary
// configuration files; see editor_fuzz.hpp for what is checked.
#include "editor_fuzz.hpp"
#include "mtaconfig/sendmail_cf.hpp"

namespace {

bool lists_filter(const std::string& line) {
  return line.starts_with("O InputMailFilters") && line.find("TESLO") != std::string::npos;
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
  fuzz::silence_logs();
  (void)fuzz::work_dir();
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  fuzz::run_editor_case({install_cf_entry, remove_cf_entry, lists_filter}, data,
                        size);
  return 0;
}

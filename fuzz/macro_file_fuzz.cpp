// Fuzzes the macro-file editor (install, then removal) with arbitrary macro
// files; see editor_fuzz.hpp for what is checked.
#include "editor_fuzz.hpp"
#include "mtaconfig/macro_file.hpp"

namespace {

bool names_filter(const std::string& line) {
  return line.find("INPUT_MAIL_FILTER(`TESLO'") != std::string::npos;
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
  fuzz::silence_logs();
  (void)fuzz::work_dir();
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  fuzz::run_editor_case({install_mc_entry, remove_mc_entry, names_filter}, data,
                        size);
  return 0;
}

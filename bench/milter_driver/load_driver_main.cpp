// load_driver: a milter-protocol load generator playing Sendmail's side
// against a filter's UNIX socket (see driver_options.cpp for the options and
// bench/README.md for how bench/load.sh uses it).
#include <cstdio>
#include <string>

#include "driver_options.hpp"
#include "load_run.hpp"
#include "milterclient/test_message.hpp"

int main(int argc, char** argv) {
  driver_options options;
  std::string error;
  bool help = false;
  if (!parse_driver_options(argc, argv, options, error, help)) {
    (void)std::fprintf(stderr, "load_driver: %s\n%s", error.c_str(), driver_usage());
    return 2;
  }
  if (help) {
    (void)std::fputs(driver_usage(), stdout);
    return 0;
  }
  const test_message message = realistic_message(options.message);
  load_result result = run_load(options, message);
  print_load_result(options, result);
  bool complete =
      result.error_count == 0 && result.answered() == result.messages && result.messages > 0;
  return complete ? 0 : 1;
}
